#include "detection/uSygnatureTable.h"

#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"

#include <algorithm>
#include <limits>
#include <random>

namespace {

unsigned char FoldCase(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// FNV-1a over the case-folded bytes, so that equal texts in either letter case share a slot. The
// low bits of FNV-1a depend only on the low bits of the input bytes (hex digits and decimal
// digits differ little there), so a final mix spreads the high bits over the slot number.
// The seed differs per table and per run, so a database cannot be built to make its lines share
// slots.
std::uint64_t FoldedHash(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = 14695981039346656037ull ^ seed;
    for (const char c : text) {
        h ^= FoldCase(static_cast<unsigned char>(c));
        h *= 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

// A power of two with at least two slots per key, so probes stay short.
std::size_t SlotCount(std::size_t keys) {
    std::size_t n = 16;
    while (n < keys * 2)
        n *= 2;
    return n;
}

constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;
constexpr std::size_t kPrefixBytes = 8;

// A size field as the sort sees it: its first eight folded bytes as one big-endian number decide
// almost every comparison without reading the line again.
struct TSizeKey {
    std::uint64_t Prefix;
    std::uint32_t Length;
    std::uint32_t Raw;
};

std::uint64_t FoldedPrefix(std::string_view text) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < kPrefixBytes; ++i)
        prefix = (prefix << 8) | (i < text.size() ? FoldCase(static_cast<unsigned char>(text[i])) : 0u);
    return prefix;
}

// Under 2^31 bytes there are fewer than 2^31 lines, so a slot number fits in 32 bits.
constexpr std::size_t kMaxTextSize = std::size_t{1} << 31;

void InsertNew(std::vector<std::uint32_t>& slots, std::uint64_t hash, std::uint32_t raw) {
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = static_cast<std::size_t>(hash) & mask;
    while (slots[slot] != kEmptySlot)
        slot = (slot + 1) & mask;
    slots[slot] = raw;
}

// A slot entry before placement: home slot in the high half, raw line number in the low half.
std::uint64_t SlotEntry(std::uint64_t hash, std::size_t slotCount, std::uint32_t raw) {
    return ((hash & (slotCount - 1)) << 32) | raw;
}

// Groups the entries in place by the region of the table their home slot lies in (an American
// flag sort on one digit), so that filling the table touches one small region after another
// instead of a random slot at every insertion, and needs no second buffer.
void GroupByRegion(std::vector<std::uint64_t>& entries, std::size_t slotCount) {
    constexpr std::size_t kRegions = 2048;
    const auto region = [slotCount](std::uint64_t e) {
        return static_cast<std::size_t>(((e >> 32) * kRegions) / slotCount);
    };
    std::vector<std::size_t> next(kRegions + 1, 0);
    for (const std::uint64_t e : entries)
        ++next[region(e) + 1];
    for (std::size_t r = 1; r <= kRegions; ++r)
        next[r] += next[r - 1];
    std::vector<std::size_t> end(next.begin() + 1, next.end());
    for (std::size_t r = 0; r < kRegions; ++r)
        while (next[r] < end[r]) {
            const std::size_t target = region(entries[next[r]]);
            if (target == r)
                ++next[r];
            else
                std::swap(entries[next[r]], entries[next[target]++]);
        }
}

void FillSlots(std::vector<std::uint32_t>& slots, std::vector<std::uint64_t>& entries) {
    GroupByRegion(entries, slots.size());
    for (const std::uint64_t e : entries)
        InsertNew(slots, e >> 32, static_cast<std::uint32_t>(e));
}

// Like FillSlots, but a key equal to one already placed takes no slot: repeated lines (a run of
// empty lines, one line in many letter cases) would otherwise pile up in one probe run and make
// both the build and every lookup landing there quadratic. tags holds each entry's full hash,
// compared before the text, so distinct keys in a run cost no line read.
template <class TSameKey>
void FillDistinctSlots(std::vector<std::uint32_t>& slots, std::vector<std::uint64_t>& entries,
                       const std::vector<std::uint64_t>& hashOfRaw, std::uint32_t firstRaw,
                       TSameKey sameKey) {
    GroupByRegion(entries, slots.size());
    const std::size_t mask = slots.size() - 1;
    for (const std::uint64_t e : entries) {
        const auto raw = static_cast<std::uint32_t>(e);
        const std::uint64_t hash = hashOfRaw[raw - firstRaw];
        std::size_t slot = static_cast<std::size_t>(e >> 32);
        bool duplicate = false;
        while (slots[slot] != kEmptySlot) {
            const std::uint32_t other = slots[slot];
            if (hashOfRaw[other - firstRaw] == hash && sameKey(other, raw)) {
                duplicate = true;
                break;
            }
            slot = (slot + 1) & mask;
        }
        if (!duplicate)
            slots[slot] = raw;
    }
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
    // Offsets and slot numbers are 32-bit to keep the index small; no real database comes near.
    if (text.size() >= kMaxTextSize)
        throw EQmError("Baza sygnatur jest za duża (2 GiB lub więcej)");
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
    std::size_t slot = static_cast<std::size_t>(FoldedHash(key, FSeed)) & mask;
    while (slots[slot] != kEmptySlot && !qm::SameText(keyOf(slots[slot]), key))
        slot = (slot + 1) & mask;
    return slot;
}

void TSygnatureTable::BuildIndex() {
    const std::size_t count = LineCount();
    FSortedSizes.clear();
    std::vector<bool> firstOfSize(count, false);
    {
        std::vector<TSizeKey> keys;
        keys.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const auto raw = static_cast<std::uint32_t>(FFirst + i);
            const std::string_view size = qm::SizeField(RawLine(raw));
            keys.push_back({FoldedPrefix(size), static_cast<std::uint32_t>(size.size()), raw});
        }
        // By size field, equal ones in line order, so that the first line of each size is kept.
        const auto sizeOf = [this](const TSizeKey& k) {
            return qm::SizeField(RawLine(k.Raw));
        };
        std::sort(keys.begin(), keys.end(), [&sizeOf](const TSizeKey& a, const TSizeKey& b) {
            if (a.Prefix != b.Prefix)
                return a.Prefix < b.Prefix;
            if (a.Length > kPrefixBytes || b.Length > kPrefixBytes) {
                const std::string_view x = sizeOf(a), y = sizeOf(b);
                if (qm::LessText(x, y))
                    return true;
                if (qm::LessText(y, x))
                    return false;
            } else if (a.Length != b.Length) {
                return a.Length < b.Length;
            }
            return a.Raw < b.Raw;
        });
        const auto sameSize = [&sizeOf](const TSizeKey& a, const TSizeKey& b) {
            return a.Prefix == b.Prefix && a.Length == b.Length &&
                   (a.Length <= kPrefixBytes || qm::SameText(sizeOf(a), sizeOf(b)));
        };
        std::size_t distinct = 0;
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (i == 0 || !sameSize(keys[i - 1], keys[i])) {
                firstOfSize[keys[i].Raw - FFirst] = true;
                ++distinct;
            }
        FSortedSizes.reserve(distinct);
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (firstOfSize[keys[i].Raw - FFirst])
                FSortedSizes.push_back(keys[i].Raw);
    }

    // Each distinct line takes one slot. Entries are taken in file order, which reads the text
    // front to back; only equal hashes make a line be read again.
    FSeed = std::random_device{}();
    FSeed = (FSeed << 32) ^ std::random_device{}();
    std::vector<std::uint64_t> hashes(count);
    std::vector<std::uint64_t> entries;
    entries.reserve(count);
    FLineSlots.assign(SlotCount(count), kEmptySlot);
    for (std::size_t i = 0; i < count; ++i) {
        const auto raw = static_cast<std::uint32_t>(FFirst + i);
        hashes[i] = FoldedHash(RawLine(raw), FSeed);
        entries.push_back(SlotEntry(hashes[i], FLineSlots.size(), raw));
    }
    FillDistinctSlots(FLineSlots, entries, hashes, FFirst, [this](std::uint32_t a, std::uint32_t b) {
        return qm::SameText(RawLine(a), RawLine(b));
    });
    hashes = {};

    entries.clear();
    FSizeSlots.assign(SlotCount(FSortedSizes.size()), kEmptySlot);
    for (std::size_t i = 0; i < count; ++i)
        if (firstOfSize[i]) {
            const auto raw = static_cast<std::uint32_t>(FFirst + i);
            entries.push_back(
                SlotEntry(FoldedHash(qm::SizeField(RawLine(raw)), FSeed), FSizeSlots.size(), raw));
        }
    FillSlots(FSizeSlots, entries);
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
