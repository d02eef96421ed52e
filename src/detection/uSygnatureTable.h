#pragma once
// The loaded lines of a signature database, kept compact so that a database of a million lines
// costs tens of megabytes: all lines stay in the one decoded text buffer and are addressed by
// offsets, and two open-addressing hash tables of line numbers answer "is this line there" and
// "is this size field there" without letter case. A table is built whole and then only read.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Less-than over texts with the letters A-Z and a-z taken as equal (bytes compared unsigned).
bool LessText(std::string_view a, std::string_view b);
// The text before the first "-" of a signature line; the whole line when it has none.
std::string_view SizeField(std::string_view line);

} // namespace qm

class TSygnatureTable;

// A read-only list of texts of a table. The views it hands out stay valid while the table lives
// unchanged (a successful reload replaces the table).
class TTextList {
public:
    class TIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        TIterator() = default;
        TIterator(const TTextList* list, std::size_t index) : FList(list), FIndex(index) {}
        std::string_view operator*() const { return (*FList)[FIndex]; }
        TIterator& operator++() {
            ++FIndex;
            return *this;
        }
        TIterator operator++(int) {
            TIterator old = *this;
            ++FIndex;
            return old;
        }
        bool operator==(const TIterator& other) const { return FIndex == other.FIndex; }

    private:
        const TTextList* FList = nullptr;
        std::size_t FIndex = 0;
    };

    enum TKind { tlLines, tlSizes };
    TTextList(const TSygnatureTable& table, TKind kind) : FTable(&table), FKind(kind) {}

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    std::string_view operator[](std::size_t index) const;
    TIterator begin() const { return TIterator(this, 0); }
    TIterator end() const { return TIterator(this, size()); }
    // Hash lookup, letter case ignored, nothing trimmed.
    bool Contains(std::string_view text) const;
    std::vector<std::string> ToVector() const;

private:
    const TSygnatureTable* FTable;
    TKind FKind;
};

class TSygnatureTable {
public:
    // Takes the decoded text of the whole file and splits it into lines at CR LF, a bare CR and a
    // bare LF (a final line break opens no empty line). Raises EQmError for a text of 2 GiB or more.
    void Assign(std::string text);
    // Removes the first line (the version line) from the list; call before BuildIndex.
    void DropFirstLine();
    // Builds the hash tables and the sorted list of distinct size fields.
    void BuildIndex();

    std::size_t LineCount() const { return FStarts.empty() ? 0 : FStarts.size() - 1 - FFirst; }
    std::string_view Line(std::size_t index) const { return RawLine(FFirst + index); }
    std::size_t SizeCount() const { return FSortedSizes.size(); }
    // The index-th distinct size field in ascending text order (letter case ignored).
    std::string_view Size(std::size_t index) const { return qm::SizeField(RawLine(FSortedSizes[index])); }
    bool ContainsLine(std::string_view line) const;
    bool ContainsSize(std::string_view size) const;

private:
    std::string_view RawLine(std::size_t raw) const;
    // Finds the slot holding a key equal to key, or the empty slot where it would go.
    template <class TKeyOf>
    std::size_t FindSlot(const std::vector<std::uint32_t>& slots, std::string_view key, TKeyOf keyOf) const;

    std::string FText;
    // Start of every line, plus one entry past the last line's terminator.
    std::vector<std::uint32_t> FStarts;
    std::uint32_t FFirst = 0;
    std::uint64_t FSeed = 0;
    // Open addressing with linear probing; a slot holds a raw line number, or all ones when empty.
    // Equal lines share one slot, so no content makes a probe run long.
    std::vector<std::uint32_t> FLineSlots;
    std::vector<std::uint32_t> FSizeSlots;
    // Raw line numbers of the first line of every distinct size field, in size-field order.
    std::vector<std::uint32_t> FSortedSizes;
};
