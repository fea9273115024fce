#include "tools/listing.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/emulated/dxbc/opcodes.h"

namespace corvo::dxbc {
namespace {

constexpr uint32_t kTestNonZero = 1u << 7;  // token bit 18
constexpr uint32_t kSaturate = 1u << 2;     // token bit 13
constexpr uint32_t kSwizzleXyzw = 0xe4;
constexpr char kComponents[] = "xyzw";

const char *const kDimensions[] = {nullptr,          "buffer",           "texture1d",       "texture2d",
                                   "texture2dms",    "texture3d",        "texturecube",     "texture1darray",
                                   "texture2darray", "texture2dmsarray", "texturecubearray"};
const char *const kReturnTypes[] = {nullptr, "unorm", "snorm", "sint", "uint", "float"};

struct Register {
    const char *name;
    uint32_t type;
    uint32_t indices;  // indices written after the name: r0 one, cb0[1] two, vThreadID none
};
constexpr Register kRegisters[] = {
    {"vThreadIDInGroupFlattened", kThreadIdInGroupFlattened, 0},
    {"vThreadIDInGroup", kThreadIdInGroup, 0},
    {"vThreadGroupID", kThreadGroupId, 0},
    {"vThreadID", kThreadId, 0},
    {"null", kNull, 0},
    {"cb", kConstantBuffer, 2},
    {"r", kTemp, 1},
    {"t", kResource, 1},
    {"u", kUav, 1},
};

bool fail(std::string *error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// Splits at commas that are not inside parentheses or brackets.
std::vector<std::string_view> split_operands(std::string_view s) {
    std::vector<std::string_view> parts;
    int depth = 0;
    size_t begin = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '(' || s[i] == '[') ++depth;
        if (s[i] == ')' || s[i] == ']') --depth;
        if (s[i] == ',' && depth == 0) {
            parts.push_back(trim(s.substr(begin, i - begin)));
            begin = i + 1;
        }
    }
    if (!trim(s.substr(begin)).empty() || !parts.empty()) parts.push_back(trim(s.substr(begin)));
    return parts;
}

bool parse_number(std::string_view text, uint32_t *out) {
    const std::string s(trim(text));
    if (s.empty()) return false;
    char *end = nullptr;
    if (s.find_first_of(".eEn") != std::string::npos && s.rfind("0x", 0) != 0) {
        *out = std::bit_cast<uint32_t>(std::strtof(s.c_str(), &end));
    } else if (s.rfind("0x", 0) == 0) {
        *out = uint32_t(std::strtoull(s.c_str(), &end, 16));
    } else {
        *out = uint32_t(std::strtoll(s.c_str(), &end, 10));
    }
    return end && *end == '\0';
}

int component_index(char c) {
    const char *p = std::strchr(kComponents, c);
    return c && p ? int(p - kComponents) : -1;
}

// `destination`: the suffix is a write mask; otherwise one letter selects, four letters swizzle.
bool parse_operand(std::string_view text, bool destination, Operand *op, std::string *error) {
    *op = Operand{};
    std::string_view s = trim(text);
    if (!destination && s.starts_with("-")) {
        op->modifier |= kNegate;
        s = trim(s.substr(1));
    }
    if (!destination && s.size() >= 2 && s.front() == '|' && s.back() == '|') {
        op->modifier |= kAbsolute;
        s = trim(s.substr(1, s.size() - 2));
    }
    if (s.starts_with("l(") && s.ends_with(")")) {
        const auto values = split_operands(s.substr(2, s.size() - 3));
        if (values.size() != 1 && values.size() != 4) return fail(error, "an immediate has 1 or 4 values");
        op->type = kImmediate32;
        op->components = uint32_t(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            if (!parse_number(values[i], &op->values[i])) return fail(error, "bad number in " + std::string(s));
        return true;
    }
    const Register *reg = nullptr;
    for (const Register &r : kRegisters)
        if (s.starts_with(r.name)) {
            reg = &r;
            break;
        }
    if (!reg) return fail(error, "unknown operand " + std::string(s));
    op->type = reg->type;
    op->index_count = reg->indices;
    s.remove_prefix(std::strlen(reg->name));
    for (uint32_t i = 0; i < reg->indices; ++i) {
        const size_t stop = i == 0 ? s.find_first_of("[.") : s.find(']');
        std::string_view digits = s.substr(0, stop);
        if (i > 0) {
            if (!s.starts_with("[")) return fail(error, "missing [index] in " + std::string(text));
            digits = s.substr(1, stop - 1);
        }
        if (digits.empty() || !parse_number(digits, &op->index[i]))
            return fail(error, "bad index in " + std::string(text));
        s.remove_prefix(stop == std::string_view::npos ? s.size() : stop + (i > 0 ? 1 : 0));
    }
    if (s.empty()) return true;  // no components: declarations, null, atomic destinations
    if (!s.starts_with(".") || s.size() < 2 || s.size() > 5)
        return fail(error, "bad components " + std::string(text));
    s.remove_prefix(1);
    op->components = 4;
    if (destination) {
        int last = -1;
        for (char c : s) {
            const int i = component_index(c);
            if (i <= last) return fail(error, "a write mask lists components in order: " + std::string(text));
            op->select |= 1u << i;
            last = i;
        }
        op->selection = kMask;
    } else if (s.size() == 1 && component_index(s[0]) >= 0) {
        op->selection = kSelectOne;
        op->select = uint32_t(component_index(s[0]));
    } else if (s.size() == 4) {
        op->selection = kSwizzle;
        for (int i = 0; i < 4; ++i) {
            const int c = component_index(s[size_t(i)]);
            if (c < 0) return fail(error, "bad swizzle " + std::string(text));
            op->select |= uint32_t(c) << (2 * i);
        }
    } else {
        return fail(error, "a source takes one component or a four-letter swizzle: " + std::string(text));
    }
    return true;
}

bool parse_return_types(std::string_view text, uint32_t *out) {
    if (!text.starts_with("(") || !text.ends_with(")")) return false;
    const auto names = split_operands(text.substr(1, text.size() - 2));
    if (names.size() != 4) return false;
    *out = 0;
    for (size_t i = 0; i < 4; ++i) {
        uint32_t value = 0;
        for (uint32_t t = 1; t < std::size(kReturnTypes); ++t)
            if (names[i] == kReturnTypes[t]) value = t;
        if (!value) return false;
        *out |= value << (4 * i);
    }
    return true;
}

// Declarations with a resource dimension in the name and return types in parentheses.
bool parse_typed_declaration(std::string_view rest, uint32_t dimension, Instruction *in, std::string *error) {
    const size_t close = rest.find(')');
    if (close == std::string_view::npos) return fail(error, "missing return types");
    uint32_t types = 0;
    if (!parse_return_types(trim(rest.substr(0, close + 1)), &types)) return fail(error, "bad return types");
    in->control = dimension;
    in->literals = {types};
    in->operands.emplace_back();
    return parse_operand(rest.substr(close + 1), false, &in->operands.back(), error);
}

bool parse_declaration(std::string_view name, std::string_view rest, Instruction *in, std::string *error) {
    const auto parts = split_operands(rest);
    for (const char *base : {"dcl_resource_", "dcl_uav_typed_"}) {
        if (!name.starts_with(base)) continue;
        const std::string_view dim = name.substr(std::strlen(base));
        for (uint32_t d = 1; d < std::size(kDimensions); ++d)
            if (dim == kDimensions[d]) {
                in->opcode = base[4] == 'r' ? kDclResource : kDclUavTyped;
                return parse_typed_declaration(rest, d, in, error);
            }
    }
    const OpcodeInfo *info = find_opcode(name);
    if (!info || info->kind != OpKind::kDeclaration) return fail(error, "unknown declaration " + std::string(name));
    in->opcode = info->number;
    if (info->number == kDclGlobalFlags) {
        if (parts.size() != 1 || parts[0] != "refactoringAllowed") return fail(error, "unknown global flags");
        in->control = 1;
        return true;
    }
    if (info->number == kDclConstantBuffer) {
        if (parts.size() != 2) return fail(error, "dcl_constantbuffer cbN[rows], immediateIndexed|dynamicIndexed");
        if (parts[1] != "immediateIndexed" && parts[1] != "dynamicIndexed") return fail(error, "bad access pattern");
        in->control = parts[1] == "dynamicIndexed";
        in->operands.emplace_back();
        if (!parse_operand(parts[0], false, &in->operands.back(), error)) return false;
        in->operands.back().components = 4;
        in->operands.back().selection = kSwizzle;
        in->operands.back().select = kSwizzleXyzw;
        return true;
    }
    const size_t operands = info->sources;
    if (parts.size() != operands + info->literals)
        return fail(error, "wrong operand count for " + std::string(name));
    for (size_t i = 0; i < operands; ++i) {
        in->operands.emplace_back();
        if (!parse_operand(parts[i], true, &in->operands.back(), error)) return false;
    }
    for (size_t i = operands; i < parts.size(); ++i) {
        in->literals.emplace_back();
        if (!parse_number(parts[i], &in->literals.back())) return fail(error, "bad number " + std::string(parts[i]));
    }
    return true;
}

bool parse_instruction(std::string_view line, Instruction *in, std::string *error) {
    const size_t space = line.find_first_of(" \t");
    std::string_view name = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : trim(line.substr(space));
    if (name.starts_with("dcl_")) return parse_declaration(name, rest, in, error);
    const OpcodeInfo *info = find_opcode(name);
    if (!info && name.ends_with("_sat")) {
        info = find_opcode(name.substr(0, name.size() - 4));
        if (!info || !takes_saturate(*info)) return fail(error, "_sat needs a float instruction");
        in->control = kSaturate;
    } else if (!info) {
        const bool nz = name.ends_with("_nz");
        if (nz || name.ends_with("_z")) info = find_opcode(name.substr(0, name.rfind('_')));
        if (!info || info->kind != OpKind::kConditional)
            return fail(error, "unknown instruction " + std::string(name));
        in->control = nz ? kTestNonZero : 0;
    } else if (info->kind == OpKind::kConditional) {
        return fail(error, std::string(name) + " needs _z or _nz");
    }
    in->opcode = info->number;
    const auto parts = split_operands(rest);
    if (parts.size() != size_t(info->destinations) + info->sources)
        return fail(error, "wrong operand count for " + std::string(name));
    for (size_t i = 0; i < parts.size(); ++i) {
        in->operands.emplace_back();
        if (!parse_operand(parts[i], i < info->destinations, &in->operands.back(), error)) return false;
    }
    return true;
}

std::string number_text(uint32_t value, bool as_float) {
    char buf[32];
    const float f = std::bit_cast<float>(value);
    if (as_float && std::isfinite(f)) {
        std::snprintf(buf, sizeof buf, "%.9g", double(f));
        std::string s = buf;
        if (s.find_first_of(".e") == std::string::npos) s += ".0";
        return s;
    }
    if (value < 0x10000) {
        std::snprintf(buf, sizeof buf, "%u", value);
    } else if (int32_t(value) < 0 && int32_t(value) >= -0x10000) {
        std::snprintf(buf, sizeof buf, "%d", int32_t(value));
    } else {
        std::snprintf(buf, sizeof buf, "0x%08x", value);
    }
    return buf;
}

bool operand_text(const Operand &op, bool as_float, std::string *out, std::string *error) {
    std::string s;
    if (op.type == kImmediate32) {
        s = "l(";
        for (uint32_t i = 0; i < op.components; ++i) s += (i ? ", " : "") + number_text(op.values[i], as_float);
        s += ")";
    } else {
        const Register *reg = nullptr;
        for (const Register &r : kRegisters)
            if (r.type == op.type) reg = &r;
        if (!reg || reg->indices != op.index_count) return fail(error, "operand type has no listing form");
        s = reg->name;
        for (uint32_t i = 0; i < op.index_count; ++i)
            s += i == 0 ? std::to_string(op.index[i]) : "[" + std::to_string(op.index[i]) + "]";
        if (op.components == 1) return fail(error, "one-component register operands have no listing form");
        if (op.components == 4) {
            s += ".";
            if (op.selection == kMask) {
                if (op.select == 0) return fail(error, "empty write mask");
                for (int i = 0; i < 4; ++i)
                    if (op.select & (1u << i)) s += kComponents[i];
            } else if (op.selection == kSelectOne) {
                s += kComponents[op.select];
            } else {
                for (int i = 0; i < 4; ++i) s += kComponents[(op.select >> (2 * i)) & 3];
            }
        }
    }
    if (op.modifier & kAbsolute) s = "|" + s + "|";
    if (op.modifier & kNegate) s = "-" + s;
    *out += s;
    return true;
}

bool declaration_text(const Instruction &in, const OpcodeInfo &info, std::string *out, std::string *error) {
    std::string line;
    if (in.opcode == kDclResource || in.opcode == kDclUavTyped) {
        if (in.control == 0 || in.control >= std::size(kDimensions))
            return fail(error, "unknown resource dimension");
        line = std::string(in.opcode == kDclResource ? "dcl_resource_" : "dcl_uav_typed_") +
               kDimensions[in.control] + " (";
        if (in.literals[0] > 0xffff) return fail(error, "unknown return type");
        for (int i = 0; i < 4; ++i) {
            const uint32_t t = (in.literals[0] >> (4 * i)) & 0xf;
            if (t == 0 || t >= std::size(kReturnTypes)) return fail(error, "unknown return type");
            line += std::string(i ? "," : "") + kReturnTypes[t];
        }
        line += ") ";
        if (!operand_text(in.operands[0], false, &line, error)) return false;
        *out += line;
        return true;
    }
    line = std::string(info.name);
    if (in.opcode == kDclGlobalFlags) {
        if (in.control != 1) return fail(error, "global flags other than refactoringAllowed");
        *out += line + " refactoringAllowed";
        return true;
    }
    if (in.opcode == kDclConstantBuffer) {
        const Operand &op = in.operands[0];
        if (in.control > 1 || op.components != 4 || op.selection != kSwizzle || op.select != kSwizzleXyzw)
            return fail(error, "constant-buffer declaration has no listing form");
        Operand plain = op;
        plain.components = 0;
        line += " ";
        if (!operand_text(plain, false, &line, error)) return false;
        *out += line + (in.control ? ", dynamicIndexed" : ", immediateIndexed");
        return true;
    }
    if (in.control != 0) return fail(error, line + ": control bits have no listing form");
    for (size_t i = 0; i < in.operands.size(); ++i) {
        line += i ? ", " : " ";
        if (!operand_text(in.operands[i], false, &line, error)) return false;
    }
    for (size_t i = 0; i < in.literals.size(); ++i)
        line += (i || !in.operands.empty() ? ", " : " ") + std::to_string(in.literals[i]);
    *out += line;
    return true;
}

}  // namespace

bool parse_listing(std::string_view text, ProgramTokens *out, std::string *error) {
    out->instructions.clear();
    bool have_version = false;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        line = trim(line.substr(0, line.find("//")));
        if (line.empty()) continue;
        if (!have_version) {
            if (line != "cs_5_0") return fail(error, "line " + std::to_string(number) + ": expected cs_5_0");
            out->version = 0x00050050;
            have_version = true;
            continue;
        }
        Instruction in;
        std::string why;
        if (!parse_instruction(line, &in, &why)) return fail(error, "line " + std::to_string(number) + ": " + why);
        out->instructions.push_back(std::move(in));
    }
    if (!have_version) return fail(error, "empty listing");
    return true;
}

bool print_listing(const ProgramTokens &program, std::string *out, std::string *error) {
    if (program.version != 0x00050050) return fail(error, "only cs_5_0 programs have a listing form");
    *out = "cs_5_0\n";
    int depth = 0;
    for (const Instruction &in : program.instructions) {
        const OpcodeInfo *info = find_opcode(in.opcode);
        if (!info) return fail(error, "unknown opcode");
        if (in.opcode == kEndloop || in.opcode == kEndif || in.opcode == kElse) depth = std::max(0, depth - 1);
        out->append(size_t(2 * depth), ' ');
        if (info->kind == OpKind::kDeclaration) {
            if (!declaration_text(in, *info, out, error)) return false;
        } else {
            std::string name(info->name);
            if (info->kind == OpKind::kConditional) {
                if (in.control & ~kTestNonZero) return fail(error, name + ": unknown control bits");
                name += in.control ? "_nz" : "_z";
            } else if (takes_saturate(*info) && in.control == kSaturate) {
                name += "_sat";
            } else if (in.control != 0) {
                return fail(error, name + ": unknown control bits");
            }
            *out += name;
            const bool float_sources = info->kind == OpKind::kFloat;
            for (size_t i = 0; i < in.operands.size(); ++i) {
                *out += i ? ", " : " ";
                if (!operand_text(in.operands[i], float_sources, out, error)) return false;
            }
        }
        *out += "\n";
        if (in.opcode == kLoop || in.opcode == kIf || in.opcode == kElse) ++depth;
    }
    return true;
}

}  // namespace corvo::dxbc
