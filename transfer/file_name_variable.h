#pragma once
#include <string>

namespace klvr {

// Stores a downloaded file's name in the host variable the settings name, when SaveFileName is on:
// LOCAL and GLOBAL variables 1 to 16 (a number outside raises SubscriptError, text that is not a number
// ConversionError), any other scope as a user variable named by the configured element 20.
void StoreFileNameInVariable(const std::string& name);

}  // namespace klvr
