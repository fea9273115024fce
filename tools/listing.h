// The text form of a compute program: one instruction per line, operands in the usual disassembly notation
// (`iadd r0.zw, r0.xxxy, cb0[0].xxzw`, `breakc_nz r1.x`, `l(230.0)`). `//` starts a comment.
#pragma once

#include <string>
#include <string_view>

#include "platform/emulated/dxbc/tokens.h"

namespace corvo::dxbc {

// Errors name the line they come from.
bool parse_listing(std::string_view text, ProgramTokens *out, std::string *error);

// Fails on anything the notation cannot express, so that a printed listing always assembles back.
bool print_listing(const ProgramTokens &program, std::string *out, std::string *error);

}  // namespace corvo::dxbc
