// The module header and function parameters: the small records of a module, held by value.
#pragma once

#include <cstdint>
#include <string>

#include "ast/enums.hpp"

namespace zorvane::ast {

struct PTXHeader {
    std::string version;  // as written, e.g. "8.5"
    PTXTarget target;
    std::uint64_t address_size;
};

struct PTXFunctionParameter {
    std::string name;
    PTXType type_;
};

}  // namespace zorvane::ast
