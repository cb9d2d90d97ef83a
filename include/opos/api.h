// Visibility of the Control Object library's public classes: the library is
// built with hidden visibility, so only what is marked here leaves it.
#pragma once

#define OPOS_CONTROL_API __attribute__((visibility("default")))
