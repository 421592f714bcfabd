// The module rules: header, top-level items, function signatures and the whole program.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "parser/grammar.hpp"
#include "parser/instructions.hpp"
#include "parser/lexical.hpp"

namespace zorvane::parser {

namespace program_rules {

// Target names as their quoted expected texts; a name's position is the value of its PTXTarget member.
inline constexpr std::array<const char*, 40> kTargetNames{
    "\"sm_10\"",   "\"sm_11\"",   "\"sm_12\"",   "\"sm_13\"",   "\"sm_20\"",   "\"sm_30\"",   "\"sm_32\"",
    "\"sm_35\"",   "\"sm_37\"",   "\"sm_50\"",   "\"sm_52\"",   "\"sm_53\"",   "\"sm_60\"",   "\"sm_61\"",
    "\"sm_62\"",   "\"sm_70\"",   "\"sm_72\"",   "\"sm_75\"",   "\"sm_80\"",   "\"sm_86\"",   "\"sm_87\"",
    "\"sm_88\"",   "\"sm_89\"",   "\"sm_90\"",   "\"sm_90a\"",  "\"sm_100\"",  "\"sm_100f\"", "\"sm_100a\"",
    "\"sm_103\"",  "\"sm_103f\"", "\"sm_103a\"", "\"sm_110\"",  "\"sm_110f\"", "\"sm_110a\"", "\"sm_120\"",
    "\"sm_120f\"", "\"sm_120a\"", "\"sm_121\"",  "\"sm_121f\"", "\"sm_121a\"",
};

constexpr std::string_view target_text(std::size_t i) {
    std::string_view quoted{kTargetNames[i]};
    return quoted.substr(1, quoted.size() - 2);
}

// Each name is its member's name in lower case with "_" after "sm".
constexpr bool target_names_match_members() {
    if (kTargetNames.size() != ast::member_count<ast::PTXTarget>()) return false;
    for (std::size_t i = 0; i < kTargetNames.size(); ++i) {
        std::string_view text = target_text(i);
        std::string_view member = ast::EnumInfo<ast::PTXTarget>::names[i];
        if (text.size() != member.size() + 1 || text.substr(0, 3) != "sm_") return false;
        for (std::size_t k = 2; k < member.size(); ++k) {
            char c = member[k];
            char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            if (text[k + 1] != lower) return false;
        }
    }
    return true;
}
static_assert(target_names_match_members());

}  // namespace program_rules

// header: ".version" _ D+ "." D+ _ ".target" _ target_name _ ".address_size" _ D+
// target_name: the longest of the forty names that matches
template <class Mode>
bool Grammar<Mode>::header(Pos& pos, ast::PTXHeader& out) {
    using program_rules::kTargetNames;
    Pos p = pos;
    if (!literal<".version">(p)) return false;
    p = ws(p);
    const Pos version_start = p;
    if (!run<kDigits>(p)) return false;
    if (!literal<".">(p)) return false;
    if (!run<kDigits>(p)) return false;
    out.version = std::string{text(version_start, p)};

    p = ws(p);
    if (!literal<".target">(p)) return false;
    p = ws(p);
    std::size_t best = 0;
    std::size_t best_length = 0;
    for (std::size_t i = 0; i < kTargetNames.size(); ++i) {
        const std::string_view name = program_rules::target_text(i);
        if (name.size() > best_length && at(p, name)) {
            best = i;
            best_length = name.size();
        }
    }
    if (best_length == 0) {
        err_.template fail_all<Mode>(p, [](auto&& mark) {
            for (const char* quoted : kTargetNames) mark(quoted);
        });
        return false;
    }
    out.target = static_cast<ast::PTXTarget>(best);
    p += best_length;

    p = ws(p);
    if (!literal<".address_size">(p)) return false;
    p = ws(p);
    if (!number(p, out.address_size)) return false;
    pos = p;
    return true;
}

// link_directive: ".weak" / ".visible" / ".extern"
template <class Mode>
bool Grammar<Mode>::link_directive(Pos& pos, ast::PTXLinkDirective& out) {
    using D = ast::PTXLinkDirective;
    return literal_choice<Case<".weak", D::Weak>, Case<".visible", D::Visible>, Case<".extern", D::Extern>>(pos, out);
}

// function_kind: ".entry" / ".func"
template <class Mode>
bool Grammar<Mode>::function_kind(Pos& pos, ast::PTXFunctionKind& out) {
    using K = ast::PTXFunctionKind;
    return literal_choice<Case<".entry", K::Kernel>, Case<".func", K::Function>>(pos, out);
}

// parameter_declaration: ".param" _ type_ _ identifier
template <class Mode>
bool Grammar<Mode>::parameter_declaration(Pos& pos, ast::PTXType& type, std::string_view& name) {
    Pos p = pos;
    if (!literal<".param">(p)) return false;
    p = ws(p);
    if (!type_(p, type)) return false;
    p = ws(p);
    if (!identifier(p, name)) return false;
    pos = p;
    return true;
}

// function_signature: "(" _ (parameter (_ "," _ parameter)*)? _ ")"
// parameter: parameter_declaration _
// Each parameter is written as soon as it is read, however many there are.
template <class Mode>
bool Grammar<Mode>::function_signature(Pos& pos, bool keep) {
    Pos p = pos;
    if (!literal<"(">(p)) return false;
    p = ws(p);
    // A default capture: the marking pass never reads `keep`, and clang warns of an unused capture.
    auto parameter = [&](Pos& at) {
        Pos q = at;
        ast::PTXType type{};
        std::string_view name;
        if (!parameter_declaration(q, type, name)) return false;
        if constexpr (Mode::builds)
            if (keep) out().parameter(type, name);
        at = ws(q);
        return true;
    };
    separated(p, parameter);
    p = ws(p);
    if (!literal<")">(p)) return false;
    pos = p;
    return true;
}

// function_body: "{" _ (body_item (_ body_item)*)? _ "}" _
// Only statements and instructions are kept: each is written into the function's body as soon as it is read.
template <class Mode>
bool Grammar<Mode>::function_body(Pos& pos) {
    Pos p = pos;
    if (!literal<"{">(p)) return false;
    p = ws(p);
    ItemRead read{};
    while (body_item(p, read)) p = ws(p);
    if (!literal<"}">(p)) return false;
    pos = ws(p);
    return true;
}

// function_item: link_directive? _ function_kind _ identifier _ function_signature (_ function_body / ";" _)
// A definition and a declaration share everything up to the signature, which is deterministic, so it is read once.
template <class Mode>
bool Grammar<Mode>::function_item(Pos& pos) {
    Pos p = pos;
    ast::PTXLinkDirective directive = ast::PTXLinkDirective::None;
    link_directive(p, directive);
    p = ws(p);
    ast::PTXFunctionKind kind{};
    if (!function_kind(p, kind)) return false;
    p = ws(p);
    std::string_view name;
    if (!identifier(p, name)) return false;

    // The function is written from here on; what a failed alternative wrote is given back.
    ast::TreeWriter::Mark before_function{};
    ast::encoding::Byte* function = nullptr;
    if constexpr (Mode::builds) {
        before_function = out().mark();
        function = out().begin_function({pos, directive, kind, name});
    }
    p = ws(p);
    if (!function_signature(p, true)) {
        if constexpr (Mode::builds) out().reset(before_function);
        return false;
    }
    ast::TreeWriter::Mark before_body{};
    if constexpr (Mode::builds) before_body = out().mark();
    Pos body = ws(p);
    if (function_body(body)) {
        p = body;
    } else {
        if constexpr (Mode::builds) out().reset(before_body);
        if (!literal<";">(p)) {
            if constexpr (Mode::builds) out().reset(before_function);
            return false;
        }
        p = ws(p);
    }
    if constexpr (Mode::builds) {
        out().end_function(function);
        out().add_function(function);
    }
    pos = p;
    return true;
}

// array_head: align _ type_ _ identifier "["
// The global declarations of arrays begin alike; neither is kept, so nothing read is.
template <class Mode>
bool Grammar<Mode>::array_head(Pos& pos) {
    Pos p = pos;
    if (!align(p)) return false;
    p = ws(p);
    ast::PTXType type{};
    if (!type_(p, type)) return false;
    p = ws(p);
    std::string_view name;
    if (!identifier(p, name)) return false;
    if (!literal<"[">(p)) return false;
    pos = p;
    return true;
}

// extern_shared_array: ".extern" _ ".shared" _ array_head _ "]" ";" _
template <class Mode>
bool Grammar<Mode>::extern_shared_array(Pos& pos) {
    Pos p = pos;
    if (!literal<".extern">(p)) return false;
    p = ws(p);
    if (!literal<".shared">(p)) return false;
    p = ws(p);
    if (!array_head(p)) return false;
    p = ws(p);
    if (!literal<"]">(p)) return false;
    if (!literal<";">(p)) return false;
    pos = ws(p);
    return true;
}

// global_array: ".global" _ array_head (initialised / uninitialised)
// initialised: [0-9A-Za-z_]+ "]" _ "=" _ "{" _ [0-9, ' ']+ _ "}" ";" _
// uninitialised: [0-9A-Za-z]+ "]" ";" _
// Both global forms share everything up to the "[", which is deterministic, so it is read once.
template <class Mode>
bool Grammar<Mode>::global_array(Pos& pos) {
    Pos p = pos;
    if (!literal<".global">(p)) return false;
    p = ws(p);
    if (!array_head(p)) return false;
    const Pos size = p;

    auto initialised = [this](Pos& at) {
        Pos q = at;
        if (!run<kAlnumUnderscore>(q)) return false;
        if (!literal<"]">(q)) return false;
        q = ws(q);
        if (!literal<"=">(q)) return false;
        q = ws(q);
        if (!literal<"{">(q)) return false;
        q = ws(q);
        if (!run<kInitialiserChars>(q)) return false;
        q = ws(q);
        if (!literal<"}">(q)) return false;
        if (!literal<";">(q)) return false;
        at = ws(q);
        return true;
    };
    p = size;
    if (initialised(p)) {
        pos = p;
        return true;
    }
    p = size;
    if (!run<kAlnum>(p)) return false;
    if (!literal<"]">(p)) return false;
    if (!literal<";">(p)) return false;
    pos = ws(p);
    return true;
}

// top_level_item: function_item / extern_shared_array / global_array
// Only functions are kept; the global declarations are recognised and dropped.
template <class Mode>
bool Grammar<Mode>::top_level_item(Pos& pos) {
    return function_item(pos) || extern_shared_array(pos) || global_array(pos);
}

// program: _ header _ top_level_item* _
// The tree is written by the silent pass only; the marking pass only looks for the error, from the item where the
// silent pass found that it may begin, if there is one.
template <class Mode>
bool Grammar<Mode>::program(Pos& pos) {
    Pos p = ws(pos);
    std::optional<Pos> resume;
    if constexpr (Mode::marks) resume = err_.resume_point();
    if (resume) {
        p = *resume;
    } else {
        ast::PTXHeader head{};
        if (!header(p, head)) return false;
        if constexpr (Mode::builds) out().file_header(head);
        p = ws(p);
    }
    while (true) {
        if constexpr (!Mode::marks) err_.item_starts(p);
        if (!top_level_item(p)) break;
    }
    pos = ws(p);
    return true;
}

}  // namespace zorvane::parser
