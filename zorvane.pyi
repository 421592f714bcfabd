# Type stubs of the zorvane extension module: its functions and every class of the tree, as the runtime shows them.
# Written by tools/surface.py from tests/surface.txt; do not edit.
#
# Only the three functions and PTXFile are attributes of the module at run time. Every other class below is reached
# through the objects that parsing returns (type(obj)) or, for a variant class, as a class attribute of its sum type
# (PTXOperand.Label is PTXOperand_Label). The names are declared here so that annotations can use them; import them
# under `typing.TYPE_CHECKING` (or write the annotations as strings), since `from zorvane import PTXOperand` fails at
# run time.
#
# Tree objects are immutable and compare by identity. Every property read returns new objects, so two reads are
# never `==`; compare enumeration members with int().

from collections.abc import Sequence
from typing import ClassVar, Literal, Never, SupportsIndex, TypeAlias, final, overload

from typing_extensions import disjoint_base

__all__ = ["parse_ptx", "parse_instruction", "parse_function_body_line", "PTXFile"]

def parse_ptx(content: str) -> PTXFile:
    """Parses a whole PTX module.

    Raises ValueError "error at LINE:COL: expected ..." when the text does not parse.
    """

def parse_instruction(content: str) -> PTXInstruction | None:
    """Parses one instruction, with its ";"; None when the text is not one."""

def parse_function_body_line(line: str) -> BodyItem | None:
    """Parses one line of a function body; None when the text is not one."""

# ---- Enumerations: one class attribute per member, in value order; int() gives the value, repr() "Class.Member".
# A member named None exists on PTXDirection and PTXLinkDirective; Python syntax cannot declare it, so it is reached
# as getattr(PTXDirection, "None") and typed as Any there.

@final
class PTXOpcode:
    """Instruction mnemonic. str() gives the mnemonic ("mad24"), repr() "PTXOpcode.Mad24"."""

    Abs: ClassVar[PTXOpcode]
    Activemask: ClassVar[PTXOpcode]
    Add: ClassVar[PTXOpcode]
    Addc: ClassVar[PTXOpcode]
    Alloca: ClassVar[PTXOpcode]
    And: ClassVar[PTXOpcode]
    Applypriority: ClassVar[PTXOpcode]
    Atom: ClassVar[PTXOpcode]
    Bar: ClassVar[PTXOpcode]
    Barrier: ClassVar[PTXOpcode]
    Bfe: ClassVar[PTXOpcode]
    Bfi: ClassVar[PTXOpcode]
    Bfind: ClassVar[PTXOpcode]
    Bmsk: ClassVar[PTXOpcode]
    Bra: ClassVar[PTXOpcode]
    Brev: ClassVar[PTXOpcode]
    Brkpt: ClassVar[PTXOpcode]
    Brx: ClassVar[PTXOpcode]
    Call: ClassVar[PTXOpcode]
    Clusterlaunchcontrol: ClassVar[PTXOpcode]
    Clz: ClassVar[PTXOpcode]
    Cnot: ClassVar[PTXOpcode]
    Copysign: ClassVar[PTXOpcode]
    Cos: ClassVar[PTXOpcode]
    Cp: ClassVar[PTXOpcode]
    Createpolicy: ClassVar[PTXOpcode]
    Cvt: ClassVar[PTXOpcode]
    Cvta: ClassVar[PTXOpcode]
    Discard: ClassVar[PTXOpcode]
    Div: ClassVar[PTXOpcode]
    Dp2a: ClassVar[PTXOpcode]
    Dp4a: ClassVar[PTXOpcode]
    Elect: ClassVar[PTXOpcode]
    Ex2: ClassVar[PTXOpcode]
    Exit: ClassVar[PTXOpcode]
    Fence: ClassVar[PTXOpcode]
    Fma: ClassVar[PTXOpcode]
    Fns: ClassVar[PTXOpcode]
    Getctarank: ClassVar[PTXOpcode]
    Griddepcontrol: ClassVar[PTXOpcode]
    Isspacep: ClassVar[PTXOpcode]
    Istypep: ClassVar[PTXOpcode]
    Ld: ClassVar[PTXOpcode]
    Ldmatrix: ClassVar[PTXOpcode]
    Ldu: ClassVar[PTXOpcode]
    Lg2: ClassVar[PTXOpcode]
    Lop3: ClassVar[PTXOpcode]
    Mad: ClassVar[PTXOpcode]
    Mad24: ClassVar[PTXOpcode]
    Madc: ClassVar[PTXOpcode]
    Mapa: ClassVar[PTXOpcode]
    Match: ClassVar[PTXOpcode]
    Max: ClassVar[PTXOpcode]
    Mbarrier: ClassVar[PTXOpcode]
    Membar: ClassVar[PTXOpcode]
    Min: ClassVar[PTXOpcode]
    Mma: ClassVar[PTXOpcode]
    Mov: ClassVar[PTXOpcode]
    Movmatrix: ClassVar[PTXOpcode]
    Mul: ClassVar[PTXOpcode]
    Mul24: ClassVar[PTXOpcode]
    Multimem: ClassVar[PTXOpcode]
    Nanosleep: ClassVar[PTXOpcode]
    Neg: ClassVar[PTXOpcode]
    Not: ClassVar[PTXOpcode]
    Or: ClassVar[PTXOpcode]
    Pmevent: ClassVar[PTXOpcode]
    Popc: ClassVar[PTXOpcode]
    Prefetch: ClassVar[PTXOpcode]
    Prefetchu: ClassVar[PTXOpcode]
    Prmt: ClassVar[PTXOpcode]
    Rcp: ClassVar[PTXOpcode]
    Red: ClassVar[PTXOpcode]
    Redux: ClassVar[PTXOpcode]
    Rem: ClassVar[PTXOpcode]
    Ret: ClassVar[PTXOpcode]
    Rsqrt: ClassVar[PTXOpcode]
    Sad: ClassVar[PTXOpcode]
    Selp: ClassVar[PTXOpcode]
    Set: ClassVar[PTXOpcode]
    Setmaxnreg: ClassVar[PTXOpcode]
    Setp: ClassVar[PTXOpcode]
    Shf: ClassVar[PTXOpcode]
    Shfl: ClassVar[PTXOpcode]
    Shl: ClassVar[PTXOpcode]
    Shr: ClassVar[PTXOpcode]
    Sin: ClassVar[PTXOpcode]
    Slct: ClassVar[PTXOpcode]
    Sqrt: ClassVar[PTXOpcode]
    St: ClassVar[PTXOpcode]
    Stackrestore: ClassVar[PTXOpcode]
    Stacksave: ClassVar[PTXOpcode]
    Stmatrix: ClassVar[PTXOpcode]
    Sub: ClassVar[PTXOpcode]
    Subc: ClassVar[PTXOpcode]
    Suld: ClassVar[PTXOpcode]
    Suq: ClassVar[PTXOpcode]
    Sured: ClassVar[PTXOpcode]
    Sust: ClassVar[PTXOpcode]
    Szext: ClassVar[PTXOpcode]
    Tanh: ClassVar[PTXOpcode]
    Tcgen05: ClassVar[PTXOpcode]
    Tensormap: ClassVar[PTXOpcode]
    Testp: ClassVar[PTXOpcode]
    Tex: ClassVar[PTXOpcode]
    Tld4: ClassVar[PTXOpcode]
    Trap: ClassVar[PTXOpcode]
    Txq: ClassVar[PTXOpcode]
    Vabsdiff: ClassVar[PTXOpcode]
    Vabsdiff2: ClassVar[PTXOpcode]
    Vabsdiff4: ClassVar[PTXOpcode]
    Vadd: ClassVar[PTXOpcode]
    Vadd2: ClassVar[PTXOpcode]
    Vadd4: ClassVar[PTXOpcode]
    Vavrg2: ClassVar[PTXOpcode]
    Vavrg4: ClassVar[PTXOpcode]
    Vmad: ClassVar[PTXOpcode]
    Vmax: ClassVar[PTXOpcode]
    Vmax2: ClassVar[PTXOpcode]
    Vmax4: ClassVar[PTXOpcode]
    Vmin: ClassVar[PTXOpcode]
    Vmin2: ClassVar[PTXOpcode]
    Vmin4: ClassVar[PTXOpcode]
    Vote: ClassVar[PTXOpcode]
    Vset: ClassVar[PTXOpcode]
    Vset2: ClassVar[PTXOpcode]
    Vset4: ClassVar[PTXOpcode]
    Vshl: ClassVar[PTXOpcode]
    Vshr: ClassVar[PTXOpcode]
    Vsub: ClassVar[PTXOpcode]
    Vsub2: ClassVar[PTXOpcode]
    Vsub4: ClassVar[PTXOpcode]
    Wgmma: ClassVar[PTXOpcode]
    Wmma: ClassVar[PTXOpcode]
    Xor: ClassVar[PTXOpcode]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...
    def __str__(self) -> str: ...

@final
class PTXType:
    """Data type of a declaration, parameter or register range."""

    PRED: ClassVar[PTXType]
    B8: ClassVar[PTXType]
    B32: ClassVar[PTXType]
    B64: ClassVar[PTXType]
    F8: ClassVar[PTXType]
    F32: ClassVar[PTXType]
    F64: ClassVar[PTXType]
    S32: ClassVar[PTXType]
    S64: ClassVar[PTXType]
    U32: ClassVar[PTXType]
    U64: ClassVar[PTXType]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

@final
class PTXSpace:
    """Space that a declaration statement declares into."""

    Register: ClassVar[PTXSpace]
    SpecialRegister: ClassVar[PTXSpace]
    CustomRegister: ClassVar[PTXSpace]
    FloatRegister: ClassVar[PTXSpace]
    SharedMemory: ClassVar[PTXSpace]
    LocalMemory: ClassVar[PTXSpace]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

@final
class PTXDirection:
    """Component of a special register: None (value 0, via getattr), X, Y, Z."""

    # None (value 0): getattr(PTXDirection, "None"), as no stub can declare a member of that name
    X: ClassVar[PTXDirection]
    Y: ClassVar[PTXDirection]
    Z: ClassVar[PTXDirection]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

@final
class PTXSpecialRegister:
    """Special (hardware-defined) register."""

    TID: ClassVar[PTXSpecialRegister]
    NTID: ClassVar[PTXSpecialRegister]
    LANEID: ClassVar[PTXSpecialRegister]
    WARPID: ClassVar[PTXSpecialRegister]
    NWARPID: ClassVar[PTXSpecialRegister]
    CTAID: ClassVar[PTXSpecialRegister]
    NCTAID: ClassVar[PTXSpecialRegister]
    SMID: ClassVar[PTXSpecialRegister]
    NSMID: ClassVar[PTXSpecialRegister]
    GRIDID: ClassVar[PTXSpecialRegister]
    WARPSIZE: ClassVar[PTXSpecialRegister]
    IS_EXPLICIT_CLUSTER: ClassVar[PTXSpecialRegister]
    CLUSTERID: ClassVar[PTXSpecialRegister]
    NCLUSTERID: ClassVar[PTXSpecialRegister]
    CLUSTER_CTAID: ClassVar[PTXSpecialRegister]
    CLUSTER_NCTAID: ClassVar[PTXSpecialRegister]
    CLUSTER_CTARANK: ClassVar[PTXSpecialRegister]
    CLUSTER_NCTARANK: ClassVar[PTXSpecialRegister]
    LANEMASK_EQ: ClassVar[PTXSpecialRegister]
    LANEMASK_LE: ClassVar[PTXSpecialRegister]
    LANEMASK_LT: ClassVar[PTXSpecialRegister]
    LANEMASK_GE: ClassVar[PTXSpecialRegister]
    LANEMASK_GT: ClassVar[PTXSpecialRegister]
    CLOCK: ClassVar[PTXSpecialRegister]
    CLOCK_HI: ClassVar[PTXSpecialRegister]
    CLOCK64: ClassVar[PTXSpecialRegister]
    PM0: ClassVar[PTXSpecialRegister]
    PM1: ClassVar[PTXSpecialRegister]
    PM2: ClassVar[PTXSpecialRegister]
    PM3: ClassVar[PTXSpecialRegister]
    PM4: ClassVar[PTXSpecialRegister]
    PM5: ClassVar[PTXSpecialRegister]
    PM6: ClassVar[PTXSpecialRegister]
    PM7: ClassVar[PTXSpecialRegister]
    PM0_64: ClassVar[PTXSpecialRegister]
    PM1_64: ClassVar[PTXSpecialRegister]
    PM2_64: ClassVar[PTXSpecialRegister]
    PM3_64: ClassVar[PTXSpecialRegister]
    PM4_64: ClassVar[PTXSpecialRegister]
    PM5_64: ClassVar[PTXSpecialRegister]
    PM6_64: ClassVar[PTXSpecialRegister]
    PM7_64: ClassVar[PTXSpecialRegister]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

@final
class PTXTarget:
    """Target architecture named by the module header."""

    SM10: ClassVar[PTXTarget]
    SM11: ClassVar[PTXTarget]
    SM12: ClassVar[PTXTarget]
    SM13: ClassVar[PTXTarget]
    SM20: ClassVar[PTXTarget]
    SM30: ClassVar[PTXTarget]
    SM32: ClassVar[PTXTarget]
    SM35: ClassVar[PTXTarget]
    SM37: ClassVar[PTXTarget]
    SM50: ClassVar[PTXTarget]
    SM52: ClassVar[PTXTarget]
    SM53: ClassVar[PTXTarget]
    SM60: ClassVar[PTXTarget]
    SM61: ClassVar[PTXTarget]
    SM62: ClassVar[PTXTarget]
    SM70: ClassVar[PTXTarget]
    SM72: ClassVar[PTXTarget]
    SM75: ClassVar[PTXTarget]
    SM80: ClassVar[PTXTarget]
    SM86: ClassVar[PTXTarget]
    SM87: ClassVar[PTXTarget]
    SM88: ClassVar[PTXTarget]
    SM89: ClassVar[PTXTarget]
    SM90: ClassVar[PTXTarget]
    SM90A: ClassVar[PTXTarget]
    SM100: ClassVar[PTXTarget]
    SM100F: ClassVar[PTXTarget]
    SM100A: ClassVar[PTXTarget]
    SM103: ClassVar[PTXTarget]
    SM103F: ClassVar[PTXTarget]
    SM103A: ClassVar[PTXTarget]
    SM110: ClassVar[PTXTarget]
    SM110F: ClassVar[PTXTarget]
    SM110A: ClassVar[PTXTarget]
    SM120: ClassVar[PTXTarget]
    SM120F: ClassVar[PTXTarget]
    SM120A: ClassVar[PTXTarget]
    SM121: ClassVar[PTXTarget]
    SM121F: ClassVar[PTXTarget]
    SM121A: ClassVar[PTXTarget]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

@final
class PTXFunctionKind:
    """Kernel (.entry) or Function (.func)."""

    Kernel: ClassVar[PTXFunctionKind]
    Function: ClassVar[PTXFunctionKind]
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

@final
class PTXLinkDirective:
    """Linkage of a function: Extern, Visible, Weak, or None (value 3, via getattr) when none is written."""

    Extern: ClassVar[PTXLinkDirective]
    Visible: ClassVar[PTXLinkDirective]
    Weak: ClassVar[PTXLinkDirective]
    # None (value 3): getattr(PTXLinkDirective, "None"), as no stub can declare a member of that name
    def __repr__(self) -> str: ...
    def __int__(self) -> int: ...

# ---- Registers: a tagged union; each variant is a class of its own with positional fields _0, _1.

@disjoint_base
class PTXRegister:
    """A register; str() gives its text ("%r5", "%rd12", "%f3", "%TID.X", "%name")."""

    General: TypeAlias = PTXRegister_General
    Wide: TypeAlias = PTXRegister_Wide
    Float: TypeAlias = PTXRegister_Float
    Special: TypeAlias = PTXRegister_Special
    Custom: TypeAlias = PTXRegister_Custom
    def __str__(self) -> str: ...

@final
class PTXRegister_General(PTXRegister):
    """%r<_0>"""

    __match_args__ = ("_0",)
    def __new__(cls, _0: SupportsIndex) -> PTXRegister_General: ...
    @property
    def _0(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> int: ...

@final
class PTXRegister_Wide(PTXRegister):
    """%rd<_0>"""

    __match_args__ = ("_0",)
    def __new__(cls, _0: SupportsIndex) -> PTXRegister_Wide: ...
    @property
    def _0(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> int: ...

@final
class PTXRegister_Float(PTXRegister):
    """%f<_0>"""

    __match_args__ = ("_0",)
    def __new__(cls, _0: SupportsIndex) -> PTXRegister_Float: ...
    @property
    def _0(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> int: ...

@final
class PTXRegister_Special(PTXRegister):
    """A special register _0 with its component _1 (PTXDirection None when it has none)."""

    __match_args__ = ("_0", "_1")
    def __new__(cls, _0: PTXSpecialRegister, _1: PTXDirection) -> PTXRegister_Special: ...
    @property
    def _0(self) -> PTXSpecialRegister: ...
    @property
    def _1(self) -> PTXDirection: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXSpecialRegister: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> PTXDirection: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXSpecialRegister | PTXDirection: ...

@final
class PTXRegister_Custom(PTXRegister):
    """A register known by its name _0 (without the "%")."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: str) -> PTXRegister_Custom: ...
    @property
    def _0(self) -> str: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> str: ...

# ---- Operands: kind() names the variant; each accessor answers its own variant and returns None for the others.

@disjoint_base
class PTXOperand:
    """One operand of an instruction. str() gives the operand text ("%General(5)", "[%Wide(2)+8]", "L__BB0_2")."""

    Immediate: TypeAlias = PTXOperand_Immediate
    FloatImmediate: TypeAlias = PTXOperand_FloatImmediate
    Register: TypeAlias = PTXOperand_Register
    Predicate: TypeAlias = PTXOperand_Predicate
    Memory: TypeAlias = PTXOperand_Memory
    MemoryLbl: TypeAlias = PTXOperand_MemoryLbl
    MemoryRegDisp: TypeAlias = PTXOperand_MemoryRegDisp
    Label: TypeAlias = PTXOperand_Label
    VectorOperand: TypeAlias = PTXOperand_VectorOperand
    RegPredPair: TypeAlias = PTXOperand_RegPredPair
    def kind(
        self,
    ) -> Literal[
        "imm",
        "float_imm",
        "reg",
        "predicate",
        "memory",
        "memory_label",
        "memory_reg_disp",
        "label",
        "vector",
        "reg_pred_pair",
    ]:
        """The variant's name."""
    def get_float_imm(self) -> int | None:
        """FloatImmediate: the bit pattern written after "0f"."""
    def get_register(self) -> str | None:
        """Register: the register text ("%r5"); Predicate: "%p" and its number."""
    def get_label(self) -> str | None:
        """Label: the label text."""
    def get_immediate(self) -> int | None:
        """Immediate: the value (a negative literal as its 64-bit two's complement)."""
    def get_memory_lbl(self) -> str | None:
        """MemoryLbl: the label between the brackets."""
    def get_memory_disp(self) -> tuple[PTXRegister, int] | None:
        """MemoryRegDisp: the register and the displacement (0 when none is written)."""
    def get_predicate(self) -> str | None:
        """Predicate: "%p" and its number."""
    def get_reg_pred_pair(self) -> tuple[str, str] | None:
        """RegPredPair: the register text and the predicate number without a prefix ("%rd1", "2")."""
    def __str__(self) -> str: ...

@final
class PTXOperand_Immediate(PTXOperand):
    """An integer immediate (a negative literal as its 64-bit two's complement)."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: SupportsIndex) -> PTXOperand_Immediate: ...
    @property
    def _0(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> int: ...

@final
class PTXOperand_FloatImmediate(PTXOperand):
    """A float immediate: the bit pattern written after "0f", as an integer."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: SupportsIndex) -> PTXOperand_FloatImmediate: ...
    @property
    def _0(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> int: ...

@final
class PTXOperand_Register(PTXOperand):
    """A register."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: PTXRegister) -> PTXOperand_Register: ...
    @property
    def _0(self) -> PTXRegister: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> PTXRegister: ...

@final
class PTXOperand_Predicate(PTXOperand):
    """The predicate register %p<_0>."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: SupportsIndex) -> PTXOperand_Predicate: ...
    @property
    def _0(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> int: ...

@final
class PTXOperand_Memory(PTXOperand):
    """A memory operand without address data (never produced by parsing)."""

    __match_args__ = ()
    def __new__(cls) -> PTXOperand_Memory: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> Never: ...

@final
class PTXOperand_MemoryLbl(PTXOperand):
    """A memory operand addressed by a label: [_0]."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: str) -> PTXOperand_MemoryLbl: ...
    @property
    def _0(self) -> str: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> str: ...

@final
class PTXOperand_MemoryRegDisp(PTXOperand):
    """A memory operand addressed by a register and a displacement: [_0+_1]."""

    __match_args__ = ("_0", "_1")
    def __new__(cls, _0: PTXRegister, _1: SupportsIndex) -> PTXOperand_MemoryRegDisp: ...
    @property
    def _0(self) -> PTXRegister: ...
    @property
    def _1(self) -> int: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXRegister: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> int: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXRegister | int: ...

@final
class PTXOperand_Label(PTXOperand):
    """A label or symbol name (a local label without its "$")."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: str) -> PTXOperand_Label: ...
    @property
    def _0(self) -> str: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> str: ...

@final
class PTXOperand_VectorOperand(PTXOperand):
    """A brace-enclosed register list."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: Sequence[PTXRegister]) -> PTXOperand_VectorOperand: ...
    @property
    def _0(self) -> list[PTXRegister]: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> list[PTXRegister]: ...

@final
class PTXOperand_RegPredPair(PTXOperand):
    """A register paired with the predicate register %p<_1>."""

    __match_args__ = ("_0", "_1")
    def __new__(cls, _0: PTXRegister, _1: SupportsIndex) -> PTXOperand_RegPredPair: ...
    @property
    def _0(self) -> PTXRegister: ...
    @property
    def _1(self) -> int: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXRegister: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> int: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXRegister | int: ...

# ---- Instructions

@final
class PTXInstruction:
    """One instruction. str() gives "PTXInstruction(opcode='Ld', modifiers='global.u32', operands=[...])"."""

    @property
    def offset(self) -> int:
        """Byte offset of the mnemonic in the UTF-8 text that was parsed."""
    @property
    def opcode(self) -> PTXOpcode: ...
    @property
    def modifiers(self) -> str:
        """The modifiers without their leading dots, joined by "." ("global.u32"; "" for none)."""
    @property
    def operands(self) -> list[PTXOperand]: ...
    @property
    def is_predicated(self) -> int | None:
        """The number n of the guard "@%pn", or None without a guard (a guard "@%p0" gives 0)."""
    def is_float(self) -> bool:
        """Whether "f32", "f64" or "f8" occurs anywhere in the modifiers."""
    def __str__(self) -> str: ...

# ---- Declarations inside a function body

@disjoint_base
class PTXStatement:
    """A declaration inside a function body."""

    CustomRegister: TypeAlias = PTXStatement_CustomRegister
    RegisterCount: TypeAlias = PTXStatement_RegisterCount
    SharedMemory: TypeAlias = PTXStatement_SharedMemory
    LocalMemory: TypeAlias = PTXStatement_LocalMemory
    Pragma: TypeAlias = PTXStatement_Pragma

@final
class PTXStatement_CustomRegister(PTXStatement):
    """One register declared by name: space _0, type _1, name _2 (without the "%")."""

    __match_args__ = ("_0", "_1", "_2")
    def __new__(cls, _0: PTXSpace, _1: PTXType, _2: str) -> PTXStatement_CustomRegister: ...
    @property
    def _0(self) -> PTXSpace: ...
    @property
    def _1(self) -> PTXType: ...
    @property
    def _2(self) -> str: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXSpace: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> PTXType: ...
    @overload
    def __getitem__(self, idx: Literal[2], /) -> str: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXSpace | PTXType | str: ...

@final
class PTXStatement_RegisterCount(PTXStatement):
    """A numbered register range: space _0, type _1, count _2 (the number between "<" and ">")."""

    __match_args__ = ("_0", "_1", "_2")
    def __new__(cls, _0: PTXSpace, _1: PTXType, _2: SupportsIndex) -> PTXStatement_RegisterCount: ...
    @property
    def _0(self) -> PTXSpace: ...
    @property
    def _1(self) -> PTXType: ...
    @property
    def _2(self) -> int: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXSpace: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> PTXType: ...
    @overload
    def __getitem__(self, idx: Literal[2], /) -> int: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXSpace | PTXType | int: ...

@final
class PTXStatement_SharedMemory(PTXStatement):
    """An array in shared memory: space _0, element type _1, element count _2, name _3 (a Label operand)."""

    __match_args__ = ("_0", "_1", "_2", "_3")
    def __new__(cls, _0: PTXSpace, _1: PTXType, _2: SupportsIndex, _3: PTXOperand) -> PTXStatement_SharedMemory: ...
    @property
    def _0(self) -> PTXSpace: ...
    @property
    def _1(self) -> PTXType: ...
    @property
    def _2(self) -> int: ...
    @property
    def _3(self) -> PTXOperand: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXSpace: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> PTXType: ...
    @overload
    def __getitem__(self, idx: Literal[2], /) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[3], /) -> PTXOperand: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXSpace | PTXType | int | PTXOperand: ...

@final
class PTXStatement_LocalMemory(PTXStatement):
    """An array in local memory: space _0, element type _1, element count _2, name _3 (a Label operand)."""

    __match_args__ = ("_0", "_1", "_2", "_3")
    def __new__(cls, _0: PTXSpace, _1: PTXType, _2: SupportsIndex, _3: PTXOperand) -> PTXStatement_LocalMemory: ...
    @property
    def _0(self) -> PTXSpace: ...
    @property
    def _1(self) -> PTXType: ...
    @property
    def _2(self) -> int: ...
    @property
    def _3(self) -> PTXOperand: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[0], /) -> PTXSpace: ...
    @overload
    def __getitem__(self, idx: Literal[1], /) -> PTXType: ...
    @overload
    def __getitem__(self, idx: Literal[2], /) -> int: ...
    @overload
    def __getitem__(self, idx: Literal[3], /) -> PTXOperand: ...
    @overload
    def __getitem__(self, idx: SupportsIndex, /) -> PTXSpace | PTXType | int | PTXOperand: ...

@final
class PTXStatement_Pragma(PTXStatement):
    """A pragma; its text is not kept."""

    __match_args__ = ()
    def __new__(cls) -> PTXStatement_Pragma: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> Never: ...

# ---- Body lines, as parse_function_body_line returns them

@disjoint_base
class BodyItem:
    """One line of a function body."""

    Statement: TypeAlias = BodyItem_Statement
    Instruction: TypeAlias = BodyItem_Instruction
    LabelDef: TypeAlias = BodyItem_LabelDef
    Call: TypeAlias = BodyItem_Call
    Param: TypeAlias = BodyItem_Param
    def kind(self) -> Literal["statement", "instruction", "label", "call", "param"]:
        """The variant's name."""
    def as_instruction(self) -> PTXInstruction | None:
        """The instruction of an Instruction line (a new object); None for the other variants."""

@final
class BodyItem_Statement(BodyItem):
    """A declaration or pragma line."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: PTXStatement) -> BodyItem_Statement: ...
    @property
    def _0(self) -> PTXStatement: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> PTXStatement: ...

@final
class BodyItem_Instruction(BodyItem):
    """An instruction line."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: PTXInstruction) -> BodyItem_Instruction: ...
    @property
    def _0(self) -> PTXInstruction: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> PTXInstruction: ...

@final
class BodyItem_LabelDef(BodyItem):
    """A label definition: the name without "$" and ":"."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: str) -> BodyItem_LabelDef: ...
    @property
    def _0(self) -> str: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> str: ...

@final
class BodyItem_Call(BodyItem):
    """A complete call sequence block: the name of the called function."""

    __match_args__ = ("_0",)
    def __new__(cls, _0: str) -> BodyItem_Call: ...
    @property
    def _0(self) -> str: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> str: ...

@final
class BodyItem_Param(BodyItem):
    """A function parameter list line."""

    __match_args__ = ()
    def __new__(cls) -> BodyItem_Param: ...
    def __len__(self) -> int: ...
    def __getitem__(self, idx: SupportsIndex, /) -> Never: ...

# ---- Functions, header and file

@final
class PTXFunctionParameter:
    @property
    def name(self) -> str: ...
    @property
    def type_(self) -> PTXType: ...

@final
class PTXFunctionSignature:
    @property
    def parameters(self) -> list[PTXFunctionParameter]: ...

@final
class PTXFunctionBody:
    """A function body: its declarations and its instructions, each in written order (labels and calls
    are not kept)."""

    @property
    def statements(self) -> list[PTXStatement]: ...
    @property
    def instructions(self) -> list[PTXInstruction]: ...

@final
class PTXFunction:
    @property
    def name(self) -> str: ...
    @property
    def offset(self) -> int:
        """Byte offset of the function's first keyword in the UTF-8 text that was parsed."""
    @property
    def link_directive(self) -> PTXLinkDirective:
        """The member named None (not Python's None) when no link directive is written."""
    @property
    def kind(self) -> PTXFunctionKind: ...
    @property
    def signature(self) -> PTXFunctionSignature: ...
    @property
    def body(self) -> PTXFunctionBody:
        """Both lists are empty for a declaration that ends with ";"."""

@final
class PTXHeader:
    @property
    def version(self) -> str:
        """As written after .version, e.g. "8.5"."""
    @property
    def target(self) -> PTXTarget: ...
    @property
    def address_size(self) -> int: ...

@final
class PTXFile:
    """A parsed PTX module (parse_ptx)."""

    @property
    def header(self) -> PTXHeader: ...
    @property
    def functions(self) -> list[PTXFunction]: ...
    @property
    def labels_ref(self) -> list[str]:
        """Names referenced by Label and MemoryLbl operands, in order, duplicates kept; names starting with "L"
        (local branch labels) are left out."""
    @property
    def custom_registers(self) -> dict[str, str]:
        """Custom register names, in lower case, mapped to replacement names: "cr0", "cr1", ... for 32-bit
        registers, "crd0", ... for 64-bit ones, counted per function."""
    def get_instruction(self, addr: SupportsIndex) -> PTXInstruction | None:
        """The instruction whose mnemonic starts at byte offset addr (the same object on every call), or None."""
