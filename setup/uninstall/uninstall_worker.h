// Removes one installation exactly as its installed-files record lists it.
#pragma once

#include <string>

// True when everything is gone; false leaves the record and registration for another attempt.
bool UninstallFromRecord(const std::wstring& installFolder);
