// Deployment values of the product family: who made it and where users get
// support. Kept in one place so that a deployment changes them here only.
//
// Thread-safety: constant data.
#pragma once

#include <cstdint>

// Where crash reports and support requests go.
constexpr const char* kSupportEMail = "support@quandrilex.example";
