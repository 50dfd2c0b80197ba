#include "format/preset.h"

// One literal group per row, each headed by the row's offset. Every row ends
// in CR LF except the last one, which is two 0x00 bytes. A "\\n" in a row is
// the two characters '\' and 'n', not a line feed. Double-byte characters are
// written as their Shift-JIS codes; a literal is split wherever a hex digit
// would otherwise be read as part of the escape before it.
//
// The literal holds 1320 bytes: the final 0x00 of the block is the literal's
// own terminating null. A literal that is too long does not compile; the
// checks at the bottom catch one that is too short.
// clang-format off
constexpr std::uint8_t presetText[fmtPresetSize] =
    // 0
    "<TOC></TOC><TITLE>()</TITLE><YOMI1></YOMI1>"
    "<BODY></YOMI1><EUTITLE></EUTITLE><BODY>\r\n"
    // 84: ⇒<A REFID="00000000"></A>\n, then 30 ideographic spaces
    "\x81\xCB<A REFID=\"00000000\"></A>\\n"
    "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40"
    "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40"
    "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40"
    "\r\n"
    // 174: )(）（〕〔］［｝｛〉〈》《」「』『
    ")(\x81\x6A\x81\x69\x81\x6C\x81\x6B\x81\x6E\x81\x6D\x81\x70\x81\x6F"
    "\x81\x72\x81\x71\x81\x74\x81\x73\x81\x76\x81\x75\x81\x78\x81\x77\r\n"
    // 210
    "</BODY>\r\n"
    // 219: <Z1:0001:>【】</Z1> ... <Z20:0011:>【 (left open)
    "<TOC><Z1:0001:>\x81\x79\x81\x7A</Z1><Z2:0001:>\x81\x79\x81\x7A</Z2>"
    "<Z3:0002:>\x81\x79\x81\x7A</Z3><Z4:0002:>\x81\x79\x81\x7A</Z4>"
    "<Z5:0003:>\x81\x79\x81\x7A</Z5><Z6:0003:>\x81\x79\x81\x7A</Z6>"
    "<Z7:0004:>\x81\x79\x81\x7A</Z7><Z8:0004:>\x81\x79\x81\x7A</Z8>"
    "<Z9:0005:>\x81\x79\x81\x7A</Z9><Z10:0005:>\x81\x79\x81\x7A</Z10>"
    "<Z11:0006:>\x81\x79\x81\x7A</Z11><Z12:0006:>\x81\x79\x81\x7A</Z12>"
    "<Z13:0007:>\x81\x79\x81\x7A</Z13><Z14:0007:>\x81\x79\x81\x7A</Z14>"
    "<Z15:0008:>\x81\x79\x81\x7A</Z15><Z16:0008:>\x81\x79\x81\x7A</Z16>"
    "<Z17:0009:>\x81\x79\x81\x7A</Z17><Z18:0010:>\x81\x79\x81\x7A</Z18>"
    "<Z19:0010:>\x81\x79\x81\x7A</Z19><Z20:0011:>\x81\x79\r\n"
    // 620: font name ZRVゴシック
    "<RUBI><SPECIAL FNAME=\"ZRV\x83\x53\x83\x56\x83\x62\x83\x4E\"> </SPECIAL> "
    "<SPECIAL FNAME=\"ZRV\x83\x53\x83\x56\x83\x62\x83\x4E\"><RUBI>\r\n"
    // 704: ，<CR>。<CR>～<CR>, then headings 【】 and ［］
    "\x81\x43<CR>\x81\x42<CR>\x81\x60<CR>"
    "<SBREAK L=2><Z1:0001><BOLD>\x81\x79\x81\x7A</BOLD></Z1>\\n<CR>"
    "<SBREAK L=2><Z1:0001:><BOLD>\x81\x6D\x81\x6E</BOLD></Z1>\r\n"
    // 817: <BODY>⇒<A REFID="65432100"></A>\n</BODY><TOC></TOC><TITLE>
    "<BODY>\x81\xCB<A REFID=\"65432100\"></A>\\n</BODY>"
    "<TOC></TOC><TITLE>\r\n"
    // 878: two 0x00 bytes, then the document type declaration
    "\x00\x00"
    "<!DOCTYPE ZRVMK SYSTEM \"ZRVMK.DTD\">\r\n"
    // 917
    "<ZRVMK>\r\n"
    // 926
    "<HEAD>\r\n"
    // 934
    "<TITLE ID=\"C0000000\"></TITLE>\r\n"
    // 965
    "<JPNTitle></JPNTitle>\r\n"
    // 988
    "<EURTitle></EURTitle>\r\n"
    // 1011
    "</HEAD>\r\n"
    // 1020: <PARA>, then one ideographic space
    "<PARA>\x81\x40\r\n"
    // 1030
    "<BODY>\r\n"
    // 1038
    "<CAP1>\r\n"
    // 1046
    "<CAP2>\r\n"
    // 1054
    "<CAP3>\r\n"
    // 1062
    "<Words></Words>\r\n"
    // 1079
    "<Rub></Rub>\r\n"
    // 1092: 〈<A></A>〉
    "\x81\x71<A></A>\x81\x72\r\n"
    // 1105: <Words>〈<Index><A></A></Index>〉</Words>
    "<Words>\x81\x71<Index><A></A></Index>\x81\x72</Words>\r\n"
    // 1148: <Gai CODE=""><Work>《》</Work>が
    "<Gai CODE=\"\"><Work>\x81\x73\x81\x74</Work>\x82\xAA\r\n"
    // 1182
    "<unit></unit>\r\n"
    // 1197
    "<SNotice><ENotice>\r\n"
    // 1217: <No>（1）</No>
    "<No>\x81\x69" "1\x81\x6A</No>\r\n"
    // 1233: <No>（2）</No>
    "<No>\x81\x69" "2\x81\x6A</No>\r\n"
    // 1249: <No>（3）</No>
    "<No>\x81\x69" "3\x81\x6A</No>\r\n"
    // 1265: <No>（4）</No>
    "<No>\x81\x69" "4\x81\x6A</No>\r\n"
    // 1281
    "<AUTHOR></AUTHOR>\r\n"
    // 1300
    "</BODY>\r\n"
    // 1309
    "</ZRVMK>\r\n"
    // 1319: two 0x00 bytes (the second is the terminating null)
    "\x00";
// clang-format on

// A literal that comes up short leaves zeros where the CR LF of the row at
// 1309 belongs; the other checks pin rows in the middle of the block.
static_assert(presetText[1317] == '\r' && presetText[1318] == '\n');
static_assert(presetText[1319] == 0 && presetText[1320] == 0);
static_assert(presetText[0] == '<' && presetText[1] == 'T' && presetText[2] == 'O' &&
              presetText[3] == 'C');
static_assert(presetText[611] == '0' && presetText[612] == '1');
static_assert(presetText[876] == '\r' && presetText[877] == '\n');
static_assert(presetText[878] == 0 && presetText[879] == 0 && presetText[880] == '<');
