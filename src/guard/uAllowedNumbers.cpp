#include "guard/uAllowedNumbers.h"

#include "util/libStrUtilsQmPack.h"

namespace qm {

std::string NormalizeNumber(std::string_view text) {
    std::string n(text);
    for (int i = 0; i < 3; ++i)
        if (n.empty() || n.front() < '0' || n.front() > '9') {
            if (!n.empty())
                n.erase(0, 1);
        }
    return Trim(n);
}

} // namespace qm

int TAllowedList::IndexOf(std::string_view number) const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (qm::SameText(FItems[i], number))
            return static_cast<int>(i);
    return -1;
}

void TAllowedList::Add(const std::string& number) {
    FItems.push_back(number);
    Changed();
}

void TAllowedList::Delete(std::size_t index) {
    if (index >= FItems.size())
        return;
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
    Changed();
}

bool TAllowedList::DeleteFirst(std::string_view number) {
    const int i = IndexOf(number);
    if (i < 0)
        return false;
    Delete(static_cast<std::size_t>(i));
    return true;
}

void TAllowedList::Clear() {
    FItems.clear();
    Changed();
}

void TAllowedList::Assign(std::vector<std::string> items) {
    FItems = std::move(items);
    Changed();
}

int TAllowedList::AddChangeListener(std::function<void()> listener) {
    FListeners.emplace_back(FNextListener, std::move(listener));
    return FNextListener++;
}

void TAllowedList::RemoveChangeListener(int id) {
    std::erase_if(FListeners, [id](const auto& entry) { return entry.first == id; });
}

void TAllowedList::Changed() {
    // Listeners first: the owner's handler may raise (a refused write) after the change is made.
    for (const auto& entry : FListeners)
        entry.second();
    if (OnChange)
        OnChange();
}

void AllowedListChange(const TAllowedList& list, TAppIni& ini, IAllowedNumbersView& view) {
    if (view.IsLoading())
        return;
    view.ShowAllowedNumbers(list.Items());
    ini.WriteList(kAllowedConnectionsSection, list.Items());
}
