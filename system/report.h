// The two failure messages that several modules print, in one place so that their text
// is the same wherever a failure is found. Both go to standard error.
//
//   report_alloc_failure()      "Error: Memory allocation error\n"
//   report_write_failure(name)  "Error: Could not write to NAME\n"
#pragma once

#include <string>

void report_alloc_failure();
void report_write_failure(const std::string& name);
