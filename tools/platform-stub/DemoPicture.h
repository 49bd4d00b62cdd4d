#pragma once

#include <string>

namespace stub {

// A small RGB PNG (a coloured disc on white) for the demo account's avatar.
std::string DemoAvatarPng(int size);

}  // namespace stub
