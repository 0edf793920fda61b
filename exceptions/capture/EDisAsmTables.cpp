// Template tables of the disassembler: the x86 opcode maps (i386 to SSE4.2) as data.
#include "EDisAsmTables_p.h"

namespace disasm_tables {

// Eight templates of one ALU operation in its six classic encodings plus two extra opcodes.
#define KBL_ALU(m, extra6, extra7)                                                          \
  m "#Eb , #Gb ", m "#Ev , #Gv ", m "#Gb , #Eb ", m "#Gv , #Ev ", m "al, #Ib ", m "@eax, #Iv ", \
      extra6, extra7
#define KBL_REG8(m) m "@eax", m "@ecx", m "@edx", m "@ebx", m "@esp", m "@ebp", m "@esi", m "@edi"
#define KBL_JCC(size, mode)                                                                   \
  "jo      #J" size mode, "jno     #J" size mode, "jb      #J" size mode,                   \
      "jae     #J" size mode, "je      #J" size mode, "jne     #J" size mode,               \
      "jbe     #J" size mode, "ja      #J" size mode, "js      #J" size mode,               \
      "jns     #J" size mode, "jp      #J" size mode, "jnp     #J" size mode,               \
      "jl      #J" size mode, "jge     #J" size mode, "jle     #J" size mode, "jg      #J" size mode
#define KBL_ST8(m) m "st(0)", m "st(1)", m "st(2)", m "st(3)", m "st(4)", m "st(5)", m "st(6)", m "st(7)"
#define KBL_STX8(m) \
  m "st(0), st", m "st(1), st", m "st(2), st", m "st(3), st", m "st(4), st", m "st(5), st", m "st(6), st", m "st(7), st"
#define KBL_NONE8 "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c "
#define KBL_SAME8(t) t, t, t, t, t, t, t, t

// --- One-byte map

const char* const kOneByte[256] = {
    // 0x00
    KBL_ALU("add     ", "push    es", "pop     es"),
    KBL_ALU("or      ", "push    cs", "@c2"),
    // 0x10
    KBL_ALU("adc     ", "push    ss", "pop     ss"),
    KBL_ALU("sbb     ", "push    ds", "pop     ds"),
    // 0x20
    KBL_ALU("and     ", "@pe", "daa"),
    // sub keeps the size keyword of its memory operand (0x29, 0x2B)
    "sub     #Eb , #Gb ", "sub     #Ev , #Gv @m ", "sub     #Gb , #Eb ", "sub     #Gv , @m #Ev ",
    "sub     al, #Ib ", "sub     @eax, #Iv ", "@pc", "das",
    // 0x30
    KBL_ALU("xor     ", "@ps", "aaa"),
    KBL_ALU("cmp     ", "@pd", "aas"),
    // 0x40
    KBL_REG8("inc     "), KBL_REG8("dec     "),
    // 0x50
    KBL_REG8("push    "), KBL_REG8("pop     "),
    // 0x60
    "pusha@o4", "popa@o4", "bound   #Gv , #Ma ", "arpl    #Ew , #Gw ", "@pf", "@pg", "@so", "@sa",
    "push    #Iv ", "imul    #Gv , #Ev , #Iv ", "push    #Hb ", "imul    #Gv , #Ev , #Hb ",
    "insb", "ins@o4", "outsb", "outs@o4",
    // 0x70
    KBL_JCC("b", "j"),
    // 0x80
    "@ga#Eb , #Ib ", "@ga#Ev , #Iv ", "@ga#Eb , #Ib ", "@ga#Ev , #Hb ",
    "test    #Eb , #Gb ", "test    #Ev , #Gv ", "xchg    #Eb , #Gb ", "xchg    #Ev , #Gv ",
    "mov     #Eb , #Gb ", "mov     #Ev , #Gv ", "mov     #Gb , #Eb ", "mov     #Gv , #Ev ",
    "mov     #Ew , #Sw ", "lea     #Gv , #M  ", "mov     #Sw , #Ew ", "@gb",
    // 0x90
    "@np", "xchg    @ecx, @eax", "xchg    @edx, @eax", "xchg    @ebx, @eax",
    "xchg    @esp, @eax", "xchg    @ebp, @eax", "xchg    @esi, @eax", "xchg    @edi, @eax",
    "c@o1", "c@o4@o8", "call    #Ap ", "@pw", "pushf@o4", "popf@o4", "sahf", "lahf",
    // 0xA0
    "mov     al, #Ob ", "mov     @eax, #Ov ", "mov     #Ob , al", "mov     #Ov , @eax",
    "movsb", "movs@o4", "cmpsb", "cmps@o4", "test    al, #Ib ", "test    @eax, #Iv ",
    "stosb", "stos@o4", "lodsb", "lods@o4", "scasb", "scas@o4",
    // 0xB0
    "mov     al, #Ib ", "mov     cl, #Ib ", "mov     dl, #Ib ", "mov     bl, #Ib ",
    "mov     ah, #Ib ", "mov     ch, #Ib ", "mov     dh, #Ib ", "mov     bh, #Ib ",
    "mov     @eax, #Iv ", "mov     @ecx, #Iv ", "mov     @edx, #Iv ", "mov     @ebx, #Iv ",
    "mov     @esp, #Iv ", "mov     @ebp, #Iv ", "mov     @esi, #Iv ", "mov     @edi, #Iv ",
    // 0xC0 (0xC4/0xC5: les/lds, or a VEX prefix)
    "@gc#Eb , #Ib ", "@gc#Ev , #Ib ", "ret     #Iw ", "ret", "@v4", "@v5", "@gd", "@ge",
    // enter and the far return show their 16-bit operand (the size, the count) as well
    "enter   #Iw , #Ib ", "leave", "retf    #Iw ", "retf", "int3", "int     #Ib ", "into", "iret@o4",
    // 0xD0
    "@gc#Eb , 1", "@gc#Ev , 1", "@gc#Eb , cl", "@gc#Ev , cl", "aam     #Ib ", "aad     #Ib ", "%c ",
    "xlatb", "@ca", "@cb", "@cc", "@cd", "@ce", "@cf", "@cg", "@ch",
    // 0xE0
    "loopne  #Jbj", "loope   #Jbj", "loop    #Jbj", "@aj#Jbj",
    "in      al, #Ib ", "in      @eax, #Ib ", "out     #Ib , al", "out     #Ib , @eax",
    "call    #Jvc", "jmp     #Jvj", "jmp     #Ap ", "jmp     #Jbj",
    "in      al, dx", "in      @eax, dx", "out     dx, al", "out     dx, @eax",
    // 0xF0
    "@pl", "int1", "@pn", "@pr", "hlt", "cmc", "@gf#Eb @h1", "@gf#Ev @h2",
    "clc", "stc", "cli", "sti", "cld", "std", "@gg", "@gh",
};

// --- Two-byte map (0x0F xx), no mandatory prefix

#define KBL_MMX(m) m "#Pq , #Qq "

const char* const kTwoByte[256] = {
    // 0x00
    "@gi", "@gj", "lar     #Gv , #Er ", "lsl     #Gv , #Er ", "%c ", "syscall", "clts", "sysret",
    "invd", "wbinvd", "%c ", "ud2", "%c ", "@gu", "femms", "%c ",
    // 0x10
    "movups  #Vo , #Wo ", "movups  #Wo , #Vo ", "@gv", "movlps  #Mq , #Vo ",
    "unpcklps #Vo , #Wo ", "unpckhps #Vo , #Wo ", "@gw", "movhps  #Mq , #Vo ",
    "@gk", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ",
    // 0x20
    "mov     #Rd , #Cd ", "mov     #Rd , #Dd ", "mov     #Cd , #Rd ", "mov     #Dd , #Rd ",
    "mov     #Rd , #Td ", "%c ", "mov     #Td , #Rd ", "%c ",
    "movaps  #Vo , #Wo ", "movaps  #Wo , #Vo ", "cvtpi2ps #Vo , #Qq ", "movntps #Mo , #Vo ",
    "cvttps2pi #Pq , #Wq ", "cvtps2pi #Pq , #Wq ", "ucomiss #Vo , #Wd ", "comiss  #Vo , #Wd ",
    // 0x30
    "wrmsr", "rdtsc", "rdmsr", "rdpmc", "sysenter", "sysexit", "%c ", "getsec",
    "@c3", "%c ", "@c4", "%c ", "%c ", "%c ", "%c ", "%c ",
    // 0x40
    "cmovo   #Gv , #Ev ", "cmovno  #Gv , #Ev ", "cmovb   #Gv , #Ev ", "cmovae  #Gv , #Ev ",
    "cmove   #Gv , #Ev ", "cmovne  #Gv , #Ev ", "cmovbe  #Gv , #Ev ", "cmova   #Gv , #Ev ",
    "cmovs   #Gv , #Ev ", "cmovns  #Gv , #Ev ", "cmovp   #Gv , #Ev ", "cmovnp  #Gv , #Ev ",
    "cmovl   #Gv , #Ev ", "cmovge  #Gv , #Ev ", "cmovle  #Gv , #Ev ", "cmovg   #Gv , #Ev ",
    // 0x50
    "movmskps #Gd , #Uo ", "sqrtps  #Vo , #Wo ", "rsqrtps #Vo , #Wo ", "rcpps   #Vo , #Wo ",
    "andps   #Vo , #Wo ", "andnps  #Vo , #Wo ", "orps    #Vo , #Wo ", "xorps   #Vo , #Wo ",
    "addps   #Vo , #Wo ", "mulps   #Vo , #Wo ", "cvtps2pd #Vo , #Wq ", "cvtdq2ps #Vo , #Wo ",
    "subps   #Vo , #Wo ", "minps   #Vo , #Wo ", "divps   #Vo , #Wo ", "maxps   #Vo , #Wo ",
    // 0x60
    "punpcklbw #Pq , #Qd ", "punpcklwd #Pq , #Qd ", "punpckldq #Pq , #Qd ", KBL_MMX("packsswb "),
    KBL_MMX("pcmpgtb "), KBL_MMX("pcmpgtw "), KBL_MMX("pcmpgtd "), KBL_MMX("packuswb "),
    KBL_MMX("punpckhbw "), KBL_MMX("punpckhwd "), KBL_MMX("punpckhdq "), KBL_MMX("packssdw "),
    "%c ", "%c ", "movd    #Pq , #Ed ", "movq    #Pq , #Qq ",
    // 0x70
    "pshufw  #Pq , #Qq , #Ib ", "@gn", "@go", "@gp",
    KBL_MMX("pcmpeqb "), KBL_MMX("pcmpeqw "), KBL_MMX("pcmpeqd "), "emms",
    "vmread  #Ed , #Gd ", "vmwrite #Gd , #Ed ", "%c ", "%c ", "%c ", "%c ", "movd    #Ed , #Pq ", "movq    #Qq , #Pq ",
    // 0x80
    KBL_JCC("v", "j"),
    // 0x90
    "seto    #Eb ", "setno   #Eb ", "setb    #Eb ", "setae   #Eb ", "sete    #Eb ", "setne   #Eb ",
    "setbe   #Eb ", "seta    #Eb ", "sets    #Eb ", "setns   #Eb ", "setp    #Eb ", "setnp   #Eb ",
    "setl    #Eb ", "setge   #Eb ", "setle   #Eb ", "setg    #Eb ",
    // 0xA0
    "push    fs", "pop     fs", "cpuid", "bt      #Ev , #Gv ", "shld    #Ev , #Gv , #Ib ",
    "shld    #Ev , #Gv , cl", "%c ", "%c ", "push    gs", "pop     gs", "rsm", "bts     #Ev , #Gv ",
    "shrd    #Ev , #Gv , #Ib ", "shrd    #Ev , #Gv , cl", "@gt", "imul    #Gv , #Ev ",
    // 0xB0
    "cmpxchg #Eb , #Gb ", "cmpxchg #Ev , #Gv ", "lss     #Gv , #Mp ", "btr     #Ev , #Gv ",
    "lfs     #Gv , #Mp ", "lgs     #Gv , #Mp ", "movzx   #Gv , @m #Eb ", "movzx   #Gv , @m #Ew ",
    "%c ", "ud1     #Gv , #Ev ", "@gl#Ev , #Ib ", "btc     #Ev , #Gv ",
    "bsf     #Gv , #Ev ", "bsr     #Gv , #Ev ", "movsx   #Gv , @m #Eb ", "movsx   #Gv , @m #Ew ",
    // 0xC0
    "xadd    #Eb , #Gb ", "xadd    #Ev , #Gv ", "cmp@ipps #Vo , #Wo ", "movnti  #Md , #Gd ",
    "pinsrw  #Pq , #Ed , #Ib ", "pextrw  #Gd , #Nq , #Ib ", "shufps  #Vo , #Wo , #Ib ", "@gm",
    KBL_REG8("bswap   "),
    // 0xD0
    "%c ", KBL_MMX("psrlw   "), KBL_MMX("psrld   "), KBL_MMX("psrlq   "),
    KBL_MMX("paddq   "), KBL_MMX("pmullw  "), "%c ", "pmovmskb #Gd , #Nq ",
    KBL_MMX("psubusb "), KBL_MMX("psubusw "), KBL_MMX("pminub  "), KBL_MMX("pand    "),
    KBL_MMX("paddusb "), KBL_MMX("paddusw "), KBL_MMX("pmaxub  "), KBL_MMX("pandn   "),
    // 0xE0
    KBL_MMX("pavgb   "), KBL_MMX("psraw   "), KBL_MMX("psrad   "), KBL_MMX("pavgw   "),
    KBL_MMX("pmulhuw "), KBL_MMX("pmulhw  "), "%c ", "movntq  #Mq , #Pq ",
    KBL_MMX("psubsb  "), KBL_MMX("psubsw  "), KBL_MMX("pminsw  "), KBL_MMX("por     "),
    KBL_MMX("paddsb  "), KBL_MMX("paddsw  "), KBL_MMX("pmaxsw  "), KBL_MMX("pxor    "),
    // 0xF0
    "%c ", KBL_MMX("psllw   "), KBL_MMX("pslld   "), KBL_MMX("psllq   "),
    KBL_MMX("pmuludq "), KBL_MMX("pmaddwd "), KBL_MMX("psadbw  "), "maskmovq #Pq , #Nq ",
    KBL_MMX("psubb   "), KBL_MMX("psubw   "), KBL_MMX("psubd   "), KBL_MMX("psubq   "),
    KBL_MMX("paddb   "), KBL_MMX("paddw   "), KBL_MMX("paddd   "), "ud0     #Gv , #Ev ",
};

// --- Templates selected by a mandatory prefix (0x66, 0xF3, 0xF2) and the three-byte maps

namespace {

struct TPrefixedRow {
  TOpcodeMap Map;
  uint8_t Prefix;  // 0 none, else TMandatoryPrefix
  uint8_t Opcode;
  const char* Template;
};

#define KBL_XMM(op, m) {kMap0F, kPrefix66, op, m "#Vo , #Wo "}
#define KBL_SSSE3(op, m) {kMap0F38, 0, op, m "#Pq , #Qq "}, {kMap0F38, kPrefix66, op, m "#Vo , #Wo "}
#define KBL_SSE41(op, m) {kMap0F38, kPrefix66, op, m "#Vo , #Wo "}

constexpr TPrefixedRow kPrefixedRows[] = {
    // 0x66 0x0F xx: SSE2 packed double and integer forms
    {kMap0F, kPrefix66, 0x10, "movupd  #Vo , #Wo "}, {kMap0F, kPrefix66, 0x11, "movupd  #Wo , #Vo "},
    {kMap0F, kPrefix66, 0x12, "movlpd  #Vo , #Mq "}, {kMap0F, kPrefix66, 0x13, "movlpd  #Mq , #Vo "},
    KBL_XMM(0x14, "unpcklpd "), KBL_XMM(0x15, "unpckhpd "),
    {kMap0F, kPrefix66, 0x16, "movhpd  #Vo , #Mq "}, {kMap0F, kPrefix66, 0x17, "movhpd  #Mq , #Vo "},
    {kMap0F, kPrefix66, 0x28, "movapd  #Vo , #Wo "}, {kMap0F, kPrefix66, 0x29, "movapd  #Wo , #Vo "},
    {kMap0F, kPrefix66, 0x2A, "cvtpi2pd #Vo , #Qq "}, {kMap0F, kPrefix66, 0x2B, "movntpd #Mo , #Vo "},
    {kMap0F, kPrefix66, 0x2C, "cvttpd2pi #Pq , #Wo "}, {kMap0F, kPrefix66, 0x2D, "cvtpd2pi #Pq , #Wo "},
    {kMap0F, kPrefix66, 0x2E, "ucomisd #Vo , #Wq "}, {kMap0F, kPrefix66, 0x2F, "comisd  #Vo , #Wq "},
    {kMap0F, kPrefix66, 0x50, "movmskpd #Gd , #Uo "}, KBL_XMM(0x51, "sqrtpd  "),
    KBL_XMM(0x54, "andpd   "), KBL_XMM(0x55, "andnpd  "), KBL_XMM(0x56, "orpd    "), KBL_XMM(0x57, "xorpd   "),
    KBL_XMM(0x58, "addpd   "), KBL_XMM(0x59, "mulpd   "), KBL_XMM(0x5A, "cvtpd2ps "), KBL_XMM(0x5B, "cvtps2dq "),
    KBL_XMM(0x5C, "subpd   "), KBL_XMM(0x5D, "minpd   "), KBL_XMM(0x5E, "divpd   "), KBL_XMM(0x5F, "maxpd   "),
    KBL_XMM(0x60, "punpcklbw "), KBL_XMM(0x61, "punpcklwd "), KBL_XMM(0x62, "punpckldq "), KBL_XMM(0x63, "packsswb "),
    KBL_XMM(0x64, "pcmpgtb "), KBL_XMM(0x65, "pcmpgtw "), KBL_XMM(0x66, "pcmpgtd "), KBL_XMM(0x67, "packuswb "),
    KBL_XMM(0x68, "punpckhbw "), KBL_XMM(0x69, "punpckhwd "), KBL_XMM(0x6A, "punpckhdq "), KBL_XMM(0x6B, "packssdw "),
    KBL_XMM(0x6C, "punpcklqdq "), KBL_XMM(0x6D, "punpckhqdq "),
    {kMap0F, kPrefix66, 0x6E, "movd    #Vo , #Ed "}, KBL_XMM(0x6F, "movdqa  "),
    {kMap0F, kPrefix66, 0x70, "pshufd  #Vo , #Wo , #Ib "},
    {kMap0F, kPrefix66, 0x71, "@gq"}, {kMap0F, kPrefix66, 0x72, "@gr"}, {kMap0F, kPrefix66, 0x73, "@gs"},
    KBL_XMM(0x74, "pcmpeqb "), KBL_XMM(0x75, "pcmpeqw "), KBL_XMM(0x76, "pcmpeqd "),
    KBL_XMM(0x7C, "haddpd  "), KBL_XMM(0x7D, "hsubpd  "),
    {kMap0F, kPrefix66, 0x7E, "movd    #Ed , #Vo "}, {kMap0F, kPrefix66, 0x7F, "movdqa  #Wo , #Vo "},
    {kMap0F, kPrefix66, 0xC2, "cmp@ippd #Vo , #Wo "}, {kMap0F, kPrefix66, 0xC4, "pinsrw  #Vo , #Ed , #Ib "},
    {kMap0F, kPrefix66, 0xC5, "pextrw  #Gd , #Uo , #Ib "}, {kMap0F, kPrefix66, 0xC6, "shufpd  #Vo , #Wo , #Ib "},
    KBL_XMM(0xD0, "addsubpd "), KBL_XMM(0xD1, "psrlw   "), KBL_XMM(0xD2, "psrld   "), KBL_XMM(0xD3, "psrlq   "),
    KBL_XMM(0xD4, "paddq   "), KBL_XMM(0xD5, "pmullw  "), {kMap0F, kPrefix66, 0xD6, "movq    #Wq , #Vo "},
    {kMap0F, kPrefix66, 0xD7, "pmovmskb #Gd , #Uo "},
    KBL_XMM(0xD8, "psubusb "), KBL_XMM(0xD9, "psubusw "), KBL_XMM(0xDA, "pminub  "), KBL_XMM(0xDB, "pand    "),
    KBL_XMM(0xDC, "paddusb "), KBL_XMM(0xDD, "paddusw "), KBL_XMM(0xDE, "pmaxub  "), KBL_XMM(0xDF, "pandn   "),
    KBL_XMM(0xE0, "pavgb   "), KBL_XMM(0xE1, "psraw   "), KBL_XMM(0xE2, "psrad   "), KBL_XMM(0xE3, "pavgw   "),
    KBL_XMM(0xE4, "pmulhuw "), KBL_XMM(0xE5, "pmulhw  "), KBL_XMM(0xE6, "cvttpd2dq "),
    {kMap0F, kPrefix66, 0xE7, "movntdq #Mo , #Vo "},
    KBL_XMM(0xE8, "psubsb  "), KBL_XMM(0xE9, "psubsw  "), KBL_XMM(0xEA, "pminsw  "), KBL_XMM(0xEB, "por     "),
    KBL_XMM(0xEC, "paddsb  "), KBL_XMM(0xED, "paddsw  "), KBL_XMM(0xEE, "pmaxsw  "), KBL_XMM(0xEF, "pxor    "),
    KBL_XMM(0xF1, "psllw   "), KBL_XMM(0xF2, "pslld   "), KBL_XMM(0xF3, "psllq   "), KBL_XMM(0xF4, "pmuludq "),
    KBL_XMM(0xF5, "pmaddwd "), KBL_XMM(0xF6, "psadbw  "), {kMap0F, kPrefix66, 0xF7, "maskmovdqu #Vo , #Uo "},
    KBL_XMM(0xF8, "psubb   "), KBL_XMM(0xF9, "psubw   "), KBL_XMM(0xFA, "psubd   "), KBL_XMM(0xFB, "psubq   "),
    KBL_XMM(0xFC, "paddb   "), KBL_XMM(0xFD, "paddw   "), KBL_XMM(0xFE, "paddd   "),

    // 0xF3 0x0F xx: SSE scalar single, SSE3 and bit counts
    {kMap0F, kPrefixF3, 0x10, "movss   #Vo , #Wd "}, {kMap0F, kPrefixF3, 0x11, "movss   #Wd , #Vo "},
    {kMap0F, kPrefixF3, 0x12, "movsldup #Vo , #Wo "}, {kMap0F, kPrefixF3, 0x16, "movshdup #Vo , #Wo "},
    {kMap0F, kPrefixF3, 0x1E, "@xe"},
    {kMap0F, kPrefixF3, 0x2A, "cvtsi2ss #Vo , #Ed "}, {kMap0F, kPrefixF3, 0x2C, "cvttss2si #Gd , #Wd "},
    {kMap0F, kPrefixF3, 0x2D, "cvtss2si #Gd , #Wd "}, {kMap0F, kPrefixF3, 0x51, "sqrtss  #Vo , #Wd "},
    {kMap0F, kPrefixF3, 0x52, "rsqrtss #Vo , #Wd "}, {kMap0F, kPrefixF3, 0x53, "rcpss   #Vo , #Wd "},
    {kMap0F, kPrefixF3, 0x58, "addss   #Vo , #Wd "}, {kMap0F, kPrefixF3, 0x59, "mulss   #Vo , #Wd "},
    {kMap0F, kPrefixF3, 0x5A, "cvtss2sd #Vo , #Wd "}, {kMap0F, kPrefixF3, 0x5B, "cvttps2dq #Vo , #Wo "},
    {kMap0F, kPrefixF3, 0x5C, "subss   #Vo , #Wd "}, {kMap0F, kPrefixF3, 0x5D, "minss   #Vo , #Wd "},
    {kMap0F, kPrefixF3, 0x5E, "divss   #Vo , #Wd "}, {kMap0F, kPrefixF3, 0x5F, "maxss   #Vo , #Wd "},
    {kMap0F, kPrefixF3, 0x6F, "movdqu  #Vo , #Wo "}, {kMap0F, kPrefixF3, 0x70, "pshufhw #Vo , #Wo , #Ib "},
    {kMap0F, kPrefixF3, 0x7E, "movq    #Vo , #Wq "}, {kMap0F, kPrefixF3, 0x7F, "movdqu  #Wo , #Vo "},
    {kMap0F, kPrefixF3, 0xB8, "popcnt  #Gv , #Ev "}, {kMap0F, kPrefixF3, 0xBC, "tzcnt   #Gv , #Ev "},
    {kMap0F, kPrefixF3, 0xBD, "lzcnt   #Gv , #Ev "}, {kMap0F, kPrefixF3, 0xC2, "cmp@ipss #Vo , #Wd "},
    {kMap0F, kPrefixF3, 0xD6, "movq2dq #Vo , #Nq "}, {kMap0F, kPrefixF3, 0xE6, "cvtdq2pd #Vo , #Wq "},

    // 0xF2 0x0F xx: SSE2 scalar double and SSE3
    {kMap0F, kPrefixF2, 0x10, "movsd   #Vo , #Wq "}, {kMap0F, kPrefixF2, 0x11, "movsd   #Wq , #Vo "},
    {kMap0F, kPrefixF2, 0x12, "movddup #Vo , #Wq "},
    {kMap0F, kPrefixF2, 0x2A, "cvtsi2sd #Vo , #Ed "}, {kMap0F, kPrefixF2, 0x2C, "cvttsd2si #Gd , #Wq "},
    {kMap0F, kPrefixF2, 0x2D, "cvtsd2si #Gd , #Wq "}, {kMap0F, kPrefixF2, 0x51, "sqrtsd  #Vo , #Wq "},
    {kMap0F, kPrefixF2, 0x58, "addsd   #Vo , #Wq "}, {kMap0F, kPrefixF2, 0x59, "mulsd   #Vo , #Wq "},
    {kMap0F, kPrefixF2, 0x5A, "cvtsd2ss #Vo , #Wq "}, {kMap0F, kPrefixF2, 0x5C, "subsd   #Vo , #Wq "},
    {kMap0F, kPrefixF2, 0x5D, "minsd   #Vo , #Wq "}, {kMap0F, kPrefixF2, 0x5E, "divsd   #Vo , #Wq "},
    {kMap0F, kPrefixF2, 0x5F, "maxsd   #Vo , #Wq "}, {kMap0F, kPrefixF2, 0x70, "pshuflw #Vo , #Wo , #Ib "},
    {kMap0F, kPrefixF2, 0x7C, "haddps  #Vo , #Wo "}, {kMap0F, kPrefixF2, 0x7D, "hsubps  #Vo , #Wo "},
    {kMap0F, kPrefixF2, 0xC2, "cmp@ipsd #Vo , #Wq "}, {kMap0F, kPrefixF2, 0xD0, "addsubps #Vo , #Wo "},
    {kMap0F, kPrefixF2, 0xD6, "movdq2q #Pq , #Uo "}, {kMap0F, kPrefixF2, 0xE6, "cvtpd2dq #Vo , #Wo "},
    {kMap0F, kPrefixF2, 0xF0, "lddqu   #Vo , #Mo "},

    // 0x0F 0x38 xx: SSSE3 (MMX and XMM forms), SSE4.1, SSE4.2, movbe, crc32
    KBL_SSSE3(0x00, "pshufb  "), KBL_SSSE3(0x01, "phaddw  "), KBL_SSSE3(0x02, "phaddd  "), KBL_SSSE3(0x03, "phaddsw "),
    KBL_SSSE3(0x04, "pmaddubsw "), KBL_SSSE3(0x05, "phsubw  "), KBL_SSSE3(0x06, "phsubd  "), KBL_SSSE3(0x07, "phsubsw "),
    KBL_SSSE3(0x08, "psignb  "), KBL_SSSE3(0x09, "psignw  "), KBL_SSSE3(0x0A, "psignd  "), KBL_SSSE3(0x0B, "pmulhrsw "),
    KBL_SSSE3(0x1C, "pabsb   "), KBL_SSSE3(0x1D, "pabsw   "), KBL_SSSE3(0x1E, "pabsd   "),
    {kMap0F38, kPrefix66, 0x10, "pblendvb #Vo , #Wo , xmm0"}, {kMap0F38, kPrefix66, 0x14, "blendvps #Vo , #Wo , xmm0"},
    {kMap0F38, kPrefix66, 0x15, "blendvpd #Vo , #Wo , xmm0"}, KBL_SSE41(0x17, "ptest   "),
    {kMap0F38, kPrefix66, 0x20, "pmovsxbw #Vo , #Wq "}, {kMap0F38, kPrefix66, 0x21, "pmovsxbd #Vo , #Wd "},
    {kMap0F38, kPrefix66, 0x22, "pmovsxbq #Vo , #Ww "}, {kMap0F38, kPrefix66, 0x23, "pmovsxwd #Vo , #Wq "},
    {kMap0F38, kPrefix66, 0x24, "pmovsxwq #Vo , #Wd "}, {kMap0F38, kPrefix66, 0x25, "pmovsxdq #Vo , #Wq "},
    KBL_SSE41(0x28, "pmuldq  "), KBL_SSE41(0x29, "pcmpeqq "), {kMap0F38, kPrefix66, 0x2A, "movntdqa #Vo , #Mo "},
    KBL_SSE41(0x2B, "packusdw "),
    {kMap0F38, kPrefix66, 0x30, "pmovzxbw #Vo , #Wq "}, {kMap0F38, kPrefix66, 0x31, "pmovzxbd #Vo , #Wd "},
    {kMap0F38, kPrefix66, 0x32, "pmovzxbq #Vo , #Ww "}, {kMap0F38, kPrefix66, 0x33, "pmovzxwd #Vo , #Wq "},
    {kMap0F38, kPrefix66, 0x34, "pmovzxwq #Vo , #Wd "}, {kMap0F38, kPrefix66, 0x35, "pmovzxdq #Vo , #Wq "},
    KBL_SSE41(0x37, "pcmpgtq "), KBL_SSE41(0x38, "pminsb  "), KBL_SSE41(0x39, "pminsd  "), KBL_SSE41(0x3A, "pminuw  "),
    KBL_SSE41(0x3B, "pminud  "), KBL_SSE41(0x3C, "pmaxsb  "), KBL_SSE41(0x3D, "pmaxsd  "), KBL_SSE41(0x3E, "pmaxuw  "),
    KBL_SSE41(0x3F, "pmaxud  "), KBL_SSE41(0x40, "pmulld  "), KBL_SSE41(0x41, "phminposuw "),
    {kMap0F38, 0, 0xF0, "movbe   #Gv , #Mv "}, {kMap0F38, 0, 0xF1, "movbe   #Mv , #Gv "},
    {kMap0F38, kPrefixF2, 0xF0, "crc32   #Gd , #Eb "}, {kMap0F38, kPrefixF2, 0xF1, "crc32   #Gd , #Ev "},

    // 0x0F 0x3A xx: SSSE3 palignr, SSE4.1 and SSE4.2 with an 8-bit operand
    {kMap0F3A, 0, 0x0F, "palignr #Pq , #Qq , #Ib "},
    {kMap0F3A, kPrefix66, 0x08, "roundps #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x09, "roundpd #Vo , #Wo , #Ib "},
    {kMap0F3A, kPrefix66, 0x0A, "roundss #Vo , #Wd , #Ib "}, {kMap0F3A, kPrefix66, 0x0B, "roundsd #Vo , #Wq , #Ib "},
    {kMap0F3A, kPrefix66, 0x0C, "blendps #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x0D, "blendpd #Vo , #Wo , #Ib "},
    {kMap0F3A, kPrefix66, 0x0E, "pblendw #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x0F, "palignr #Vo , #Wo , #Ib "},
    {kMap0F3A, kPrefix66, 0x14, "pextrb  #Ed , #Vo , #Ib "}, {kMap0F3A, kPrefix66, 0x15, "pextrw  #Ed , #Vo , #Ib "},
    {kMap0F3A, kPrefix66, 0x16, "pextrd  #Ed , #Vo , #Ib "}, {kMap0F3A, kPrefix66, 0x17, "extractps #Ed , #Vo , #Ib "},
    {kMap0F3A, kPrefix66, 0x20, "pinsrb  #Vo , #Ed , #Ib "}, {kMap0F3A, kPrefix66, 0x21, "insertps #Vo , #Wd , #Ib "},
    {kMap0F3A, kPrefix66, 0x22, "pinsrd  #Vo , #Ed , #Ib "},
    {kMap0F3A, kPrefix66, 0x40, "dpps    #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x41, "dppd    #Vo , #Wo , #Ib "},
    {kMap0F3A, kPrefix66, 0x42, "mpsadbw #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x44, "pclmulqdq #Vo , #Wo , #Ib "},
    {kMap0F3A, kPrefix66, 0x60, "pcmpestrm #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x61, "pcmpestri #Vo , #Wo , #Ib "},
    {kMap0F3A, kPrefix66, 0x62, "pcmpistrm #Vo , #Wo , #Ib "}, {kMap0F3A, kPrefix66, 0x63, "pcmpistri #Vo , #Wo , #Ib "},
};

// The rows above, indexed at compile time: [map][prefix][opcode].
struct TPrefixedIndex {
  const char* Templates[3][4][256] = {};
  constexpr TPrefixedIndex() {
    for (const TPrefixedRow& row : kPrefixedRows) Templates[row.Map][row.Prefix][row.Opcode] = row.Template;
  }
};

constexpr TPrefixedIndex kPrefixedIndex;

// --- Groups: 8 memory forms by the reg field, then 8 register forms (nullptr: as memory)

struct TGroup {
  const char* Memory[8];
  const char* Register[8];
};

const TGroup kGroups[26] = {
    // a: 0x80-0x83
    {{"add     ", "or      ", "adc     ", "sbb     ", "and     ", "sub     ", "xor     ", "cmp     "}, {}},
    // b: 0x8F
    {{"pop     #Ev ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c "}, {}},
    // c: shifts and rotations 0xC0, 0xC1, 0xD0-0xD3
    {{"rol     ", "ror     ", "rcl     ", "rcr     ", "shl     ", "shr     ", "sal     ", "sar     "}, {}},
    // d: 0xC6
    {{"mov     #Eb , #Ib ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c "}, {}},
    // e: 0xC7
    {{"mov     #Ev , #Iv ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c "}, {}},
    // f: 0xF6, 0xF7 (operand tails 1 and 2 add the immediate of test)
    {{"test    ", "test    ", "not     ", "neg     ", "mul     ", "imul    ", "div     ", "idiv    "}, {}},
    // g: 0xFE
    {{"inc     #Eb ", "dec     #Eb ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c "}, {}},
    // h: 0xFF
    {{"inc     #Ev ", "dec     #Ev ", "call    #Ev ", "call    #Ep ", "jmp     #Ev ", "jmp     #Ep ",
      "push    #Ev ", "%c "},
     {nullptr, nullptr, nullptr, "%c ", nullptr, "%c ", nullptr, nullptr}},
    // i: 0x0F 0x00
    {{"sldt    #Er ", "str     #Er ", "lldt    #Ew ", "ltr     #Ew ", "verr    #Ew ", "verw    #Ew ", "%c ", "%c "},
     {}},
    // j: 0x0F 0x01
    {{"sgdt    #Ms ", "sidt    #Ms ", "lgdt    #Ms ", "lidt    #Ms ", "smsw    #Er ", "%c ", "lmsw    #Ew ",
      "invlpg  #Mb "},
     {"@xs", "@xs", "@xs", "@xs", nullptr, "@xs", nullptr, "@xs"}},
    // k: 0x0F 0x18
    {{"prefetchnta #Mb ", "prefetcht0 #Mb ", "prefetcht1 #Mb ", "prefetcht2 #Mb ", "nop     #Ev ",
      "nop     #Ev ", "nop     #Ev ", "nop     #Ev "},
     {"nop     #Ev ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ", nullptr, nullptr, nullptr, nullptr}},
    // l: 0x0F 0xBA
    {{"%c ", "%c ", "%c ", "%c ", "bt      ", "bts     ", "btr     ", "btc     "}, {}},
    // m: 0x0F 0xC7
    {{"%c ", "cmpxchg8b #Mq ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c "},
     {"%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "rdrand  #Rv ", "rdseed  #Rv "}},
    // n, o, p: 0x0F 0x71-0x73, MMX register shifts
    {{KBL_NONE8}, {"%c ", "%c ", "psrlw   #Nq , #Ib ", "%c ", "psraw   #Nq , #Ib ", "%c ", "psllw   #Nq , #Ib ", "%c "}},
    {{KBL_NONE8}, {"%c ", "%c ", "psrld   #Nq , #Ib ", "%c ", "psrad   #Nq , #Ib ", "%c ", "pslld   #Nq , #Ib ", "%c "}},
    {{KBL_NONE8}, {"%c ", "%c ", "psrlq   #Nq , #Ib ", "%c ", "%c ", "%c ", "psllq   #Nq , #Ib ", "%c "}},
    // q, r, s: 0x66 0x0F 0x71-0x73, XMM register shifts
    {{KBL_NONE8}, {"%c ", "%c ", "psrlw   #Uo , #Ib ", "%c ", "psraw   #Uo , #Ib ", "%c ", "psllw   #Uo , #Ib ", "%c "}},
    {{KBL_NONE8}, {"%c ", "%c ", "psrld   #Uo , #Ib ", "%c ", "psrad   #Uo , #Ib ", "%c ", "pslld   #Uo , #Ib ", "%c "}},
    {{KBL_NONE8},
     {"%c ", "%c ", "psrlq   #Uo , #Ib ", "psrldq  #Uo , #Ib ", "%c ", "%c ", "psllq   #Uo , #Ib ", "pslldq  #Uo , #Ib "}},
    // t: 0x0F 0xAE
    {{"fxsave  #M  ", "fxrstor #M  ", "ldmxcsr #Md ", "stmxcsr #Md ", "xsave   #M  ", "xrstor  #M  ",
      "xsaveopt #M  ", "clflush #Mb "},
     {"%c ", "%c ", "%c ", "%c ", "%c ", "lfence", "mfence", "sfence"}},
    // u: 0x0F 0x0D
    {{"prefetch #Mb ", "prefetchw #Mb ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ", "nop     #Ev ",
      "nop     #Ev ", "nop     #Ev "},
     {}},
    // v: 0x0F 0x12
    {{KBL_SAME8("movlps  #Vo , #Mq ")}, {KBL_SAME8("movhlps #Vo , #Uo ")}},
    // w: 0x0F 0x16
    {{KBL_SAME8("movhps  #Vo , #Mq ")}, {KBL_SAME8("movlhps #Vo , #Uo ")}},
    // x, y, z: unused
    {{KBL_NONE8}, {}},
    {{KBL_NONE8}, {}},
    {{KBL_NONE8}, {}},
};

// Operand tails: 1 for 0xF6, 2 for 0xF7 (the immediate of test), 3 and 4 unused.
const char* const kTails[4][8] = {
    {", #Ib ", ", #Ib ", "", "", "", "", "", ""},
    {", #Iv ", ", #Iv ", "", "", "", "", "", ""},
    {"", "", "", "", "", "", "", ""},
    {"", "", "", "", "", "", "", ""},
};

// --- x87: per escape 8 memory forms, then 64 register forms

const char* const kFloat[8][72] = {
    // 0xD8
    {"fadd    #Ed ", "fmul    #Ed ", "fcom    #Ed ", "fcomp   #Ed ", "fsub    #Ed ", "fsubr   #Ed ",
     "fdiv    #Ed ", "fdivr   #Ed ",
     KBL_ST8("fadd    "), KBL_ST8("fmul    "), KBL_ST8("fcom    "), KBL_ST8("fcomp   "),
     KBL_ST8("fsub    "), KBL_ST8("fsubr   "), KBL_ST8("fdiv    "), KBL_ST8("fdivr   ")},
    // 0xD9
    {"fld     #Ed ", "%c ", "fst     #Ed ", "fstp    #Ed ", "fldenv  #M  ", "fldcw   #Ew ",
     "fnstenv #M  ", "fnstcw  #Ew ",
     KBL_ST8("fld     "), KBL_ST8("fxch    "),
     "fnop", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ",
     KBL_NONE8,
     "fchs", "fabs", "%c ", "%c ", "ftst", "fxam", "%c ", "%c ",
     "fld1", "fldl2t", "fldl2e", "fldpi", "fldlg2", "fldln2", "fldz", "%c ",
     "f2xm1", "fyl2x", "fptan", "fpatan", "fxtract", "fprem1", "fdecstp", "fincstp",
     "fprem", "fyl2xp1", "fsqrt", "fsincos", "frndint", "fscale", "fsin", "fcos"},
    // 0xDA
    {"fiadd   #Ed ", "fimul   #Ed ", "ficom   #Ed ", "ficomp  #Ed ", "fisub   #Ed ", "fisubr  #Ed ",
     "fidiv   #Ed ", "fidivr  #Ed ",
     KBL_ST8("fcmovb  "), KBL_ST8("fcmove  "), KBL_ST8("fcmovbe "), KBL_ST8("fcmovu  "),
     KBL_NONE8,
     "%c ", "fucompp", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ",
     KBL_NONE8, KBL_NONE8},
    // 0xDB
    {"fild    #Ed ", "fisttp  #Ed ", "fist    #Ed ", "fistp   #Ed ", "%c ", "fld     #Et ", "%c ",
     "fstp    #Et ",
     KBL_ST8("fcmovnb "), KBL_ST8("fcmovne "), KBL_ST8("fcmovnbe "), KBL_ST8("fcmovnu "),
     "%c ", "%c ", "fnclex", "fninit", "%c ", "%c ", "%c ", "%c ",
     KBL_ST8("fucomi  "), KBL_ST8("fcomi   "), KBL_NONE8},
    // 0xDC
    {"fadd    #Eq ", "fmul    #Eq ", "fcom    #Eq ", "fcomp   #Eq ", "fsub    #Eq ", "fsubr   #Eq ",
     "fdiv    #Eq ", "fdivr   #Eq ",
     KBL_STX8("fadd    "), KBL_STX8("fmul    "), KBL_NONE8, KBL_NONE8,
     KBL_STX8("fsubr   "), KBL_STX8("fsub    "), KBL_STX8("fdivr   "), KBL_STX8("fdiv    ")},
    // 0xDD
    {"fld     #Eq ", "fisttp  #Eq ", "fst     #Eq ", "fstp    #Eq ", "frstor  #M  ", "%c ", "fnsave  #M  ",
     "fnstsw  #Ew ",
     KBL_ST8("ffree   "), KBL_NONE8, KBL_ST8("fst     "), KBL_ST8("fstp    "),
     KBL_ST8("fucom   "), KBL_ST8("fucomp  "), KBL_NONE8, KBL_NONE8},
    // 0xDE
    {"fiadd   #Ew ", "fimul   #Ew ", "ficom   #Ew ", "ficomp  #Ew ", "fisub   #Ew ", "fisubr  #Ew ",
     "fidiv   #Ew ", "fidivr  #Ew ",
     KBL_STX8("faddp   "), KBL_STX8("fmulp   "), KBL_NONE8,
     "%c ", "fcompp", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ",
     KBL_STX8("fsubrp  "), KBL_STX8("fsubp   "), KBL_STX8("fdivrp  "), KBL_STX8("fdivp   ")},
    // 0xDF
    {"fild    #Ew ", "fisttp  #Ew ", "fist    #Ew ", "fistp   #Ew ", "fbld    #Et ", "fild    #Eq ",
     "fbstp   #Et ", "fistp   #Eq ",
     KBL_NONE8, KBL_NONE8, KBL_NONE8, KBL_NONE8,
     "fnstsw  ax", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ", "%c ",
     KBL_ST8("fucomip "), KBL_ST8("fcomip  "), KBL_NONE8},
};

// Register forms of 0x0F 0x01 by the whole ModRM byte.
struct TSystemRow {
  uint8_t ModRM;
  const char* Template;
};
constexpr TSystemRow kSystemRows[] = {
    {0xC1, "vmcall"}, {0xC2, "vmlaunch"}, {0xC3, "vmresume"}, {0xC4, "vmxoff"},
    {0xC8, "monitor"}, {0xC9, "mwait"}, {0xCA, "clac"}, {0xCB, "stac"},
    {0xD0, "xgetbv"}, {0xD1, "xsetbv"}, {0xD5, "xend"}, {0xD6, "xtest"},
    {0xF8, "swapgs"}, {0xF9, "rdtscp"},
};

// The rows above, indexed at compile time by ModRM - 0xC0.
struct TSystemIndex {
  const char* Templates[64] = {};
  constexpr TSystemIndex() {
    for (const TSystemRow& row : kSystemRows) Templates[row.ModRM - 0xC0] = row.Template;
  }
};

constexpr TSystemIndex kSystemIndex;

}  // namespace

const char* PrefixedTemplate(TOpcodeMap map, uint8_t prefix, uint8_t opcode) {
  if (map > kMap0F3A || prefix > kPrefixF2) return nullptr;
  return kPrefixedIndex.Templates[map][prefix][opcode];
}

const char* GroupTemplate(char group, int reg, bool registerForm) {
  if (group < 'a' || group > 'z' || reg < 0 || reg > 7) return nullptr;
  const TGroup& row = kGroups[group - 'a'];
  if (registerForm && row.Register[reg] != nullptr) return row.Register[reg];
  return row.Memory[reg];
}

const char* TailTemplate(char tail, int reg) {
  if (tail < '1' || tail > '4' || reg < 0 || reg > 7) return nullptr;
  return kTails[tail - '1'][reg];
}

const char* FloatTemplate(int escape, uint8_t modrm) {
  if (escape < 0 || escape > 7) return nullptr;
  if (modrm < 0xC0) return kFloat[escape][(modrm >> 3) & 7];
  return kFloat[escape][8 + (modrm - 0xC0)];
}

const char* SystemTemplate(uint8_t modrm) {
  return modrm >= 0xC0 ? kSystemIndex.Templates[modrm - 0xC0] : nullptr;
}

}  // namespace disasm_tables
