#pragma once
// The user's short date format on Linux: strftime's "%x" in the LC_TIME locale of the
// environment (the removal log's dates).
#include "util/uDateTime.h"

#include <string>

// Call once per process before the first LocaleShortDate: takes LC_TIME from the environment.
void UseEnvironmentTimeLocale();
std::string LocaleShortDate(qm::TDateTime value);
