// The instruction mnemonics: member names in byte order, and their three text forms.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ast/enums.hpp"

namespace zorvane::ast {

// Members in ascending byte order of their names; a member's value is its position.
enum class PTXOpcode : std::uint8_t {
    Abs, Activemask, Add, Addc, Alloca, And, Applypriority, Atom, Bar, Barrier, Bfe, Bfi, Bfind, Bmsk, Bra, Brev, Brkpt, Brx, Call, Clusterlaunchcontrol, Clz, Cnot, Copysign, Cos, Cp, Createpolicy, Cvt, Cvta, Discard, Div, Dp2a, Dp4a, Elect, Ex2, Exit, Fence, Fma, Fns, Getctarank, Griddepcontrol, Isspacep, Istypep, Ld, Ldmatrix, Ldu, Lg2, Lop3, Mad, Mad24, Madc, Mapa, Match, Max, Mbarrier, Membar, Min, Mma, Mov, Movmatrix, Mul, Mul24, Multimem, Nanosleep, Neg, Not, Or, Pmevent, Popc, Prefetch, Prefetchu, Prmt, Rcp, Red, Redux, Rem, Ret, Rsqrt, Sad, Selp, Set, Setmaxnreg, Setp, Shf, Shfl, Shl, Shr, Sin, Slct, Sqrt, St, Stackrestore, Stacksave, Stmatrix, Sub, Subc, Suld, Suq, Sured, Sust, Szext, Tanh, Tcgen05, Tensormap, Testp, Tex, Tld4, Trap, Txq, Vabsdiff, Vabsdiff2, Vabsdiff4, Vadd, Vadd2, Vadd4, Vavrg2, Vavrg4, Vmad, Vmax, Vmax2, Vmax4, Vmin, Vmin2, Vmin4, Vote, Vset, Vset2, Vset4, Vshl, Vshr, Vsub, Vsub2, Vsub4, Wgmma, Wmma, Xor
};

template <>
struct EnumInfo<PTXOpcode> {
    static constexpr std::string_view class_name = "PTXOpcode";
    static constexpr std::array<std::string_view, 135> names{
        "Abs", "Activemask", "Add", "Addc", "Alloca", "And", "Applypriority", "Atom", "Bar", "Barrier",
        "Bfe", "Bfi", "Bfind", "Bmsk", "Bra", "Brev", "Brkpt", "Brx", "Call", "Clusterlaunchcontrol",
        "Clz", "Cnot", "Copysign", "Cos", "Cp", "Createpolicy", "Cvt", "Cvta", "Discard", "Div",
        "Dp2a", "Dp4a", "Elect", "Ex2", "Exit", "Fence", "Fma", "Fns", "Getctarank", "Griddepcontrol",
        "Isspacep", "Istypep", "Ld", "Ldmatrix", "Ldu", "Lg2", "Lop3", "Mad", "Mad24", "Madc",
        "Mapa", "Match", "Max", "Mbarrier", "Membar", "Min", "Mma", "Mov", "Movmatrix", "Mul",
        "Mul24", "Multimem", "Nanosleep", "Neg", "Not", "Or", "Pmevent", "Popc", "Prefetch", "Prefetchu",
        "Prmt", "Rcp", "Red", "Redux", "Rem", "Ret", "Rsqrt", "Sad", "Selp", "Set",
        "Setmaxnreg", "Setp", "Shf", "Shfl", "Shl", "Shr", "Sin", "Slct", "Sqrt", "St",
        "Stackrestore", "Stacksave", "Stmatrix", "Sub", "Subc", "Suld", "Suq", "Sured", "Sust", "Szext",
        "Tanh", "Tcgen05", "Tensormap", "Testp", "Tex", "Tld4", "Trap", "Txq", "Vabsdiff", "Vabsdiff2",
        "Vabsdiff4", "Vadd", "Vadd2", "Vadd4", "Vavrg2", "Vavrg4", "Vmad", "Vmax", "Vmax2", "Vmax4",
        "Vmin", "Vmin2", "Vmin4", "Vote", "Vset", "Vset2", "Vset4", "Vshl", "Vshr", "Vsub",
        "Vsub2", "Vsub4", "Wgmma", "Wmma", "Xor",
    };
};

// The mnemonic is the member name with its first letter lowered, without exception.
inline std::string mnemonic(PTXOpcode op) {
    std::string text{member_name(op)};
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace zorvane::ast
