# Reference tables shared by the tests: the members of every enumeration, in declaration order.

# Members of every enumeration in declaration order; a member's value is its position here.
MEMBERS = {
    "PTXType": "PRED B8 B32 B64 F8 F32 F64 S32 S64 U32 U64".split(),
    "PTXSpace": "Register SpecialRegister CustomRegister FloatRegister SharedMemory LocalMemory".split(),
    "PTXDirection": "None X Y Z".split(),
    "PTXSpecialRegister": """
        TID NTID LANEID WARPID NWARPID CTAID NCTAID SMID NSMID GRIDID WARPSIZE IS_EXPLICIT_CLUSTER
        CLUSTERID NCLUSTERID CLUSTER_CTAID CLUSTER_NCTAID CLUSTER_CTARANK CLUSTER_NCTARANK
        LANEMASK_EQ LANEMASK_LE LANEMASK_LT LANEMASK_GE LANEMASK_GT CLOCK CLOCK_HI CLOCK64
        PM0 PM1 PM2 PM3 PM4 PM5 PM6 PM7 PM0_64 PM1_64 PM2_64 PM3_64 PM4_64 PM5_64 PM6_64 PM7_64
    """.split(),
    "PTXTarget": """
        SM10 SM11 SM12 SM13 SM20 SM30 SM32 SM35 SM37 SM50 SM52 SM53 SM60 SM61 SM62 SM70 SM72 SM75
        SM80 SM86 SM87 SM88 SM89 SM90 SM90A SM100 SM100F SM100A SM103 SM103F SM103A SM110 SM110F
        SM110A SM120 SM120F SM120A SM121 SM121F SM121A
    """.split(),
    "PTXFunctionKind": "Kernel Function".split(),
    "PTXLinkDirective": "Extern Visible Weak None".split(),
    "PTXOpcode": """
        Abs Activemask Add Addc Alloca And Applypriority Atom Bar Barrier
        Bfe Bfi Bfind Bmsk Bra Brev Brkpt Brx Call Clusterlaunchcontrol
        Clz Cnot Copysign Cos Cp Createpolicy Cvt Cvta Discard Div
        Dp2a Dp4a Elect Ex2 Exit Fence Fma Fns Getctarank Griddepcontrol
        Isspacep Istypep Ld Ldmatrix Ldu Lg2 Lop3 Mad Mad24 Madc
        Mapa Match Max Mbarrier Membar Min Mma Mov Movmatrix Mul
        Mul24 Multimem Nanosleep Neg Not Or Pmevent Popc Prefetch Prefetchu
        Prmt Rcp Red Redux Rem Ret Rsqrt Sad Selp Set
        Setmaxnreg Setp Shf Shfl Shl Shr Sin Slct Sqrt St
        Stackrestore Stacksave Stmatrix Sub Subc Suld Suq Sured Sust Szext
        Tanh Tcgen05 Tensormap Testp Tex Tld4 Trap Txq Vabsdiff Vabsdiff2
        Vabsdiff4 Vadd Vadd2 Vadd4 Vavrg2 Vavrg4 Vmad Vmax Vmax2 Vmax4
        Vmin Vmin2 Vmin4 Vote Vset Vset2 Vset4 Vshl Vshr Vsub
        Vsub2 Vsub4 Wgmma Wmma Xor
    """.split(),
}
