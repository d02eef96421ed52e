#include "detection/uSygnatureTable.h"

#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"

#include <algorithm>
#include <limits>

namespace {

unsigned char FoldCase(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// FNV-1a over the case-folded bytes, so that equal texts in either letter case share a slot.
std::uint64_t FoldedHash(std::string_view text) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= FoldCase(static_cast<unsigned char>(c));
        h *= 1099511628211ull;
    }
    return h ^ (h >> 29);
}

// A power of two with at least two slots per key, so probes stay short.
std::size_t SlotCount(std::size_t keys) {
    std::size_t n = 16;
    while (n < keys * 2)
        n *= 2;
    return n;
}

} // namespace

namespace qm {

bool LessText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = FoldCase(static_cast<unsigned char>(a[i]));
        const unsigned char y = FoldCase(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

std::string_view SizeField(std::string_view line) {
    const std::size_t dash = line.find('-');
    return dash == std::string_view::npos ? line : line.substr(0, dash);
}

} // namespace qm

std::size_t TTextList::size() const {
    return FKind == tlLines ? FTable->LineCount() : FTable->SizeCount();
}

std::string_view TTextList::operator[](std::size_t index) const {
    return FKind == tlLines ? FTable->Line(index) : FTable->Size(index);
}

bool TTextList::Contains(std::string_view text) const {
    return FKind == tlLines ? FTable->ContainsLine(text) : FTable->ContainsSize(text);
}

std::vector<std::string> TTextList::ToVector() const {
    std::vector<std::string> items;
    items.reserve(size());
    for (const std::string_view item : *this)
        items.emplace_back(item);
    return items;
}

void TSygnatureTable::Assign(std::string text) {
    // Offsets are 32-bit to keep the index small; no real database comes near this.
    if (text.size() >= std::numeric_limits<std::uint32_t>::max())
        throw EQmError("Baza sygnatur jest za duża (4 GiB lub więcej)");
    FText = std::move(text);
    FStarts.clear();
    FFirst = 0;
    FLineSlots.clear();
    FSizeSlots.clear();
    FSortedSizes.clear();

    const char* data = FText.data();
    const std::size_t size = FText.size();
    std::size_t i = 0;
    std::size_t start = 0;
    while (i < size) {
        const char c = data[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        FStarts.push_back(static_cast<std::uint32_t>(start));
        i += (c == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < size) {
        FStarts.push_back(static_cast<std::uint32_t>(start));
        start = size;
    }
    if (!FStarts.empty())
        FStarts.push_back(static_cast<std::uint32_t>(start));
}

void TSygnatureTable::DropFirstLine() {
    if (LineCount() > 0)
        ++FFirst;
}

std::string_view TSygnatureTable::RawLine(std::size_t raw) const {
    const std::size_t start = FStarts[raw];
    std::size_t end = FStarts[raw + 1];
    // A line holds no CR or LF, so what ends it is exactly its terminator.
    if (end > start && FText[end - 1] == '\n')
        --end;
    if (end > start && FText[end - 1] == '\r')
        --end;
    return std::string_view(FText).substr(start, end - start);
}

template <class TKeyOf>
std::size_t TSygnatureTable::FindSlot(const std::vector<std::uint32_t>& slots, std::string_view key,
                                      TKeyOf keyOf) const {
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = static_cast<std::size_t>(FoldedHash(key)) & mask;
    while (slots[slot] != kEmptySlot && !qm::SameText(keyOf(slots[slot]), key))
        slot = (slot + 1) & mask;
    return slot;
}

void TSygnatureTable::BuildIndex() {
    const std::size_t count = LineCount();
    FLineSlots.assign(SlotCount(count), kEmptySlot);
    FSizeSlots.assign(SlotCount(count), kEmptySlot);
    FSortedSizes.clear();
    const auto lineOf = [this](std::uint32_t raw) {
        return RawLine(raw);
    };
    const auto sizeOf = [this](std::uint32_t raw) {
        return qm::SizeField(RawLine(raw));
    };
    for (std::size_t i = 0; i < count; ++i) {
        const auto raw = static_cast<std::uint32_t>(FFirst + i);
        const std::string_view line = RawLine(raw);
        std::uint32_t& lineSlot = FLineSlots[FindSlot(FLineSlots, line, lineOf)];
        if (lineSlot == kEmptySlot)
            lineSlot = raw;
        std::uint32_t& sizeSlot = FSizeSlots[FindSlot(FSizeSlots, qm::SizeField(line), sizeOf)];
        if (sizeSlot == kEmptySlot) {
            sizeSlot = raw;
            FSortedSizes.push_back(raw);
        }
    }
    std::sort(FSortedSizes.begin(), FSortedSizes.end(),
              [&sizeOf](std::uint32_t a, std::uint32_t b) { return qm::LessText(sizeOf(a), sizeOf(b)); });
}

bool TSygnatureTable::ContainsLine(std::string_view line) const {
    if (FLineSlots.empty())
        return false;
    return FLineSlots[FindSlot(FLineSlots, line, [this](std::uint32_t raw) { return RawLine(raw); })] !=
           kEmptySlot;
}

bool TSygnatureTable::ContainsSize(std::string_view size) const {
    if (FSizeSlots.empty())
        return false;
    const auto sizeOf = [this](std::uint32_t raw) {
        return qm::SizeField(RawLine(raw));
    };
    return FSizeSlots[FindSlot(FSizeSlots, size, sizeOf)] != kEmptySlot;
}
