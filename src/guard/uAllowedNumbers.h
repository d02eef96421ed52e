#pragma once
// The allowed numbers list: the numbers a dial may go to without a question, kept in insertion
// order (duplicates allowed), compared without letter case, stored as section
// "allowed_connections" of the settings file after every change.
#include "core/uAppIni.h"

#include <functional>
#include <string>
#include <utility>
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
    // The owner's handler (it stores the list); runs after the listeners.
    std::function<void()> OnChange;
    // Others that must hear every change (the dial guard); the number given back removes it.
    int AddChangeListener(std::function<void()> listener);
    void RemoveChangeListener(int id);

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
    std::vector<std::pair<int, std::function<void()>>> FListeners;
    int FNextListener = 1;
};

// What the owner of the list (the main window) offers to its change handler.
class IAllowedNumbersView {
public:
    virtual ~IAllowedNumbersView() = default;
    virtual bool IsLoading() const = 0;
    // Refill the list box from the list's items.
    virtual void ShowAllowedNumbers(const std::vector<std::string>& items) = 0;
};

inline constexpr const char* kAllowedConnectionsSection = "allowed_connections";

// AllowedListChange: nothing while loading; else refill the view and store the whole section. The
// write's error goes on to the caller; the list keeps the change.
void AllowedListChange(const TAllowedList& list, TAppIni& ini, IAllowedNumbersView& view);
