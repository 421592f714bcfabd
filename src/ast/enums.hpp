// The small closed enumerations of the tree, with their member names.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zorvane::ast {

// Names and class name of each enumeration; the module layer builds its classes from these tables.
template <class E>
struct EnumInfo;

template <class E>
constexpr std::string_view member_name(E member) {
    return EnumInfo<E>::names[static_cast<std::size_t>(member)];
}

template <class E>
constexpr std::size_t member_count() {
    return EnumInfo<E>::names.size();
}

enum class PTXType : std::uint8_t { PRED, B8, B32, B64, F8, F32, F64, S32, S64, U32, U64 };
template <>
struct EnumInfo<PTXType> {
    static constexpr std::string_view class_name = "PTXType";
    static constexpr std::array<std::string_view, 11> names{"PRED", "B8",  "B32", "B64", "F8", "F32",
                                                            "F64",  "S32", "S64", "U32", "U64"};
};

enum class PTXSpace : std::uint8_t {
    Register,
    SpecialRegister,
    CustomRegister,
    FloatRegister,
    SharedMemory,
    LocalMemory
};
template <>
struct EnumInfo<PTXSpace> {
    static constexpr std::string_view class_name = "PTXSpace";
    static constexpr std::array<std::string_view, 6> names{"Register",      "SpecialRegister", "CustomRegister",
                                                           "FloatRegister", "SharedMemory",    "LocalMemory"};
};

enum class PTXDirection : std::uint8_t { None, X, Y, Z };
template <>
struct EnumInfo<PTXDirection> {
    static constexpr std::string_view class_name = "PTXDirection";
    static constexpr std::array<std::string_view, 4> names{"None", "X", "Y", "Z"};
};

enum class PTXSpecialRegister : std::uint8_t {
    TID,
    NTID,
    LANEID,
    WARPID,
    NWARPID,
    CTAID,
    NCTAID,
    SMID,
    NSMID,
    GRIDID,
    WARPSIZE,
    IS_EXPLICIT_CLUSTER,
    CLUSTERID,
    NCLUSTERID,
    CLUSTER_CTAID,
    CLUSTER_NCTAID,
    CLUSTER_CTARANK,
    CLUSTER_NCTARANK,
    LANEMASK_EQ,
    LANEMASK_LE,
    LANEMASK_LT,
    LANEMASK_GE,
    LANEMASK_GT,
    CLOCK,
    CLOCK_HI,
    CLOCK64,
    PM0,
    PM1,
    PM2,
    PM3,
    PM4,
    PM5,
    PM6,
    PM7,
    PM0_64,
    PM1_64,
    PM2_64,
    PM3_64,
    PM4_64,
    PM5_64,
    PM6_64,
    PM7_64
};
template <>
struct EnumInfo<PTXSpecialRegister> {
    static constexpr std::string_view class_name = "PTXSpecialRegister";
    static constexpr std::array<std::string_view, 42> names{"TID",
                                                            "NTID",
                                                            "LANEID",
                                                            "WARPID",
                                                            "NWARPID",
                                                            "CTAID",
                                                            "NCTAID",
                                                            "SMID",
                                                            "NSMID",
                                                            "GRIDID",
                                                            "WARPSIZE",
                                                            "IS_EXPLICIT_CLUSTER",
                                                            "CLUSTERID",
                                                            "NCLUSTERID",
                                                            "CLUSTER_CTAID",
                                                            "CLUSTER_NCTAID",
                                                            "CLUSTER_CTARANK",
                                                            "CLUSTER_NCTARANK",
                                                            "LANEMASK_EQ",
                                                            "LANEMASK_LE",
                                                            "LANEMASK_LT",
                                                            "LANEMASK_GE",
                                                            "LANEMASK_GT",
                                                            "CLOCK",
                                                            "CLOCK_HI",
                                                            "CLOCK64",
                                                            "PM0",
                                                            "PM1",
                                                            "PM2",
                                                            "PM3",
                                                            "PM4",
                                                            "PM5",
                                                            "PM6",
                                                            "PM7",
                                                            "PM0_64",
                                                            "PM1_64",
                                                            "PM2_64",
                                                            "PM3_64",
                                                            "PM4_64",
                                                            "PM5_64",
                                                            "PM6_64",
                                                            "PM7_64"};
};

enum class PTXTarget : std::uint8_t {
    SM10,
    SM11,
    SM12,
    SM13,
    SM20,
    SM30,
    SM32,
    SM35,
    SM37,
    SM50,
    SM52,
    SM53,
    SM60,
    SM61,
    SM62,
    SM70,
    SM72,
    SM75,
    SM80,
    SM86,
    SM87,
    SM88,
    SM89,
    SM90,
    SM90A,
    SM100,
    SM100F,
    SM100A,
    SM103,
    SM103F,
    SM103A,
    SM110,
    SM110F,
    SM110A,
    SM120,
    SM120F,
    SM120A,
    SM121,
    SM121F,
    SM121A
};
template <>
struct EnumInfo<PTXTarget> {
    static constexpr std::string_view class_name = "PTXTarget";
    static constexpr std::array<std::string_view, 40> names{
        "SM10",   "SM11",  "SM12",   "SM13",   "SM20",  "SM30",   "SM32",   "SM35",   "SM37",   "SM50",
        "SM52",   "SM53",  "SM60",   "SM61",   "SM62",  "SM70",   "SM72",   "SM75",   "SM80",   "SM86",
        "SM87",   "SM88",  "SM89",   "SM90",   "SM90A", "SM100",  "SM100F", "SM100A", "SM103",  "SM103F",
        "SM103A", "SM110", "SM110F", "SM110A", "SM120", "SM120F", "SM120A", "SM121",  "SM121F", "SM121A"};
};

enum class PTXFunctionKind : std::uint8_t { Kernel, Function };
template <>
struct EnumInfo<PTXFunctionKind> {
    static constexpr std::string_view class_name = "PTXFunctionKind";
    static constexpr std::array<std::string_view, 2> names{"Kernel", "Function"};
};

enum class PTXLinkDirective : std::uint8_t { Extern, Visible, Weak, None };
template <>
struct EnumInfo<PTXLinkDirective> {
    static constexpr std::string_view class_name = "PTXLinkDirective";
    static constexpr std::array<std::string_view, 4> names{"Extern", "Visible", "Weak", "None"};
};

}  // namespace zorvane::ast
