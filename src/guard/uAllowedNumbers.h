#pragma once
// The allowed numbers list: the numbers a dial may go to without a question, kept in insertion
// order (duplicates allowed), compared without letter case, stored as section
// "allowed_connections" of the settings file after every change.
#include "core/uAppIni.h"

#include <functional>
#include <string>
#include <vector>

namespace qm {
// Drops up to three leading non-digits (the test made exactly three times), then trims blanks and
// control characters from both ends; the inside of the number stays.
std::string NormalizeNumber(std::string_view text);
} // namespace qm

// An ordered string list that reports every change: after Add, Delete and Clear, and once after a
// whole-list assignment.
class TAllowedList {
public:
    std::function<void()> OnChange;

    const std::vector<std::string>& Items() const { return FItems; }
    std::size_t Count() const { return FItems.size(); }
    const std::string& operator[](std::size_t i) const { return FItems[i]; }

    // Lookup without regard to letter case: the index of the first equal item, or -1.
    int IndexOf(std::string_view number) const;
    bool Contains(std::string_view number) const { return IndexOf(number) >= 0; }
    void Add(const std::string& number);
    void Delete(std::size_t index);
    // Deletes the first item equal to number (letter case ignored); false when there is none.
    bool DeleteFirst(std::string_view number);
    void Clear();
    void Assign(std::vector<std::string> items);

private:
    void Changed();
    std::vector<std::string> FItems;
};

// What the owner of the list (the main window) offers to its change handler.
class IAllowedNumbersView {
public:
    virtual ~IAllowedNumbersView() = default;
    virtual bool IsLoading() const = 0;
    // Refill the list box from the list's items.
    virtual void ShowAllowedNumbers(const std::vector<std::string>& items) = 0;
    // The last dial request's tag goes to 0 so the repeat shortcut cannot apply across a change.
    virtual void ResetLastRequestTag() = 0;
};

inline constexpr const char* kAllowedConnectionsSection = "allowed_connections";

// AllowedListChange: nothing while loading; else refill the view, store the whole section, reset
// the last request tag. The write's error goes on to the caller; the list keeps the change.
void AllowedListChange(const TAllowedList& list, TAppIni& ini, IAllowedNumbersView& view);
