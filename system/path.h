// Paths as the program handles them: UTF-8 strings on every platform. A path's components
// are separated by "/", and on Windows by "\" as well.
//
//   path_name_start(path)  where the final component begins: just after the last
//                          separator, or 0 when there is none
//   path_native(path)      the std::filesystem::path of a UTF-8 path, which keeps every
//                          character also where the system's narrow strings are not UTF-8
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

std::size_t path_name_start(const std::string& path);
std::filesystem::path path_native(const std::string& path);
