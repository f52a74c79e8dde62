# cmake -DOUTPUT=side_picture.rc -P side_picture.cmake
#
# Draws the progress dialog's side picture, bitmap 103, and writes it as
# resource data for the Windows builds: a device-independent bitmap (header,
# palette, pixels; no file header), 164 x 314 pixels, 4 bits per pixel with
# the standard 16-colour palette, uncompressed, bottom-up, 3780 pixels per
# metre. Plain CMake, so that every build that has the resource compiler can
# draw it, the Windows builds configured on their own included.
#
# The picture: a dark panel, navy at the top dithered into black at the
# bottom, edged on the right by a teal rule; near the top an emblem, a ring
# with a tail (the Q of the engine's name) around a white diamond.
if(NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DOUTPUT=file.rc -P side_picture.cmake")
endif()

set(width 164)
set(height 314)

# Palette indices of the standard 16-colour palette, by name, as hex digits.
set(black 0)
set(navy 4)
set(teal 6)
set(yellow b)
set(aqua e)
set(white f)

# The emblem: its centre, the ring's radii (with a white rim inside it), the
# tail along the falling diagonal, the diamond's half-diagonal, and the box
# that holds it all.
set(cx 82)
set(cy 76)
math(EXPR outerSquare "38 * 38")
math(EXPR innerSquare "28 * 28")
math(EXPR rimOuterSquare "33 * 33")
math(EXPR rimInnerSquare "31 * 31")
# The tail runs from the ring outward, its ends square to the diagonal.
set(tailFrom 40)
set(tailTo 84)
set(tailHalfWidth 5)
set(diamond 12)
set(boxLeft 40)
set(boxRight 130)
set(boxTop 34)
set(boxBottom 130)

# A 4 x 4 ordered-dither matrix: a panel pixel turns black when its entry is
# below the row's share of black (0 to 16).
set(bayer0 0 8 2 10)
set(bayer1 12 4 14 6)
set(bayer2 3 11 1 9)
set(bayer3 15 7 13 5)

# The panel's row y, 164 palette digits: the dither for the row's depth,
# then the rule on the right.
function(panel_row y out)
  math(EXPR share "${y} * 17 / ${height}")
  math(EXPR phase "${y} % 4")
  set(unit "")
  foreach(threshold ${bayer${phase}})
    if(threshold LESS share)
      string(APPEND unit ${black})
    else()
      string(APPEND unit ${navy})
    endif()
  endforeach()
  string(REPEAT "${unit}" 40 row)
  set(${out} "${row}${teal}${teal}${black}${black}" PARENT_SCOPE)
endfunction()

# The emblem's colour at (x, y), or empty where the panel shows through.
function(emblem_pixel x y out)
  math(EXPR dx "${x} - ${cx}")
  math(EXPR dy "${y} - ${cy}")
  math(EXPR d2 "${dx} * ${dx} + ${dy} * ${dy}")
  set(adx ${dx})
  set(ady ${dy})
  if(dx LESS 0)
    math(EXPR adx "0 - ${dx}")
  endif()
  if(dy LESS 0)
    math(EXPR ady "0 - ${dy}")
  endif()
  math(EXPR manhattan "${adx} + ${ady}")
  math(EXPR offDiagonal "${dx} - ${dy}")
  math(EXPR alongDiagonal "${dx} + ${dy}")
  set(colour "")
  if(d2 LESS_EQUAL outerSquare AND d2 GREATER_EQUAL innerSquare)
    if(d2 GREATER_EQUAL rimInnerSquare AND d2 LESS rimOuterSquare)
      set(colour ${white})
    else()
      set(colour ${teal})
    endif()
  elseif(alongDiagonal GREATER_EQUAL tailFrom AND alongDiagonal LESS_EQUAL tailTo AND offDiagonal GREATER_EQUAL -${tailHalfWidth}
         AND offDiagonal LESS_EQUAL tailHalfWidth)
    set(colour ${aqua})
  elseif(manhattan LESS_EQUAL 3)
    set(colour ${yellow})
  elseif(manhattan LESS_EQUAL diamond)
    set(colour ${white})
  endif()
  set(${out} "${colour}" PARENT_SCOPE)
endfunction()

# Row y of the picture, top-down.
function(picture_row y out)
  panel_row(${y} row)
  if(y GREATER_EQUAL boxTop AND y LESS_EQUAL boxBottom)
    foreach(x RANGE ${boxLeft} ${boxRight})
      emblem_pixel(${x} ${y} colour)
      if(NOT colour STREQUAL "")
        math(EXPR after "${x} + 1")
        string(SUBSTRING "${row}" 0 ${x} head)
        string(SUBSTRING "${row}" ${after} -1 tail)
        set(row "${head}${colour}${tail}")
      endif()
    endforeach()
  endif()
  set(${out} "${row}" PARENT_SCOPE)
endfunction()

# Resource data is a list of 16-bit little-endian words: "0xHHLL".
function(words_of_u32 value out)
  math(EXPR low "${value} & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR high "(${value} >> 16) & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} "${low}, ${high}" PARENT_SCOPE)
endfunction()

# A row holds 4 bits a pixel and is padded to a multiple of 4 bytes.
math(EXPR rowBytes "(${width} * 4 + 31) / 32 * 4")
math(EXPR padDigits "${rowBytes} * 2 - ${width}")
string(REPEAT "0" ${padDigits} padding)
math(EXPR imageSize "${rowBytes} * ${height}")

# The header (BITMAPINFOHEADER, 40 bytes): size, width, height (positive:
# bottom-up), 1 plane, 4 bits, no compression, image size, pixels per metre
# across and down, 16 colours used, all of them important.
set(header "")
foreach(field 40 ${width} ${height})
  words_of_u32(${field} words)
  string(APPEND header "  ${words},\n")
endforeach()
string(APPEND header "  1, 4,\n")
foreach(field 0 ${imageSize} 3780 3780 16 0)
  words_of_u32(${field} words)
  string(APPEND header "  ${words},\n")
endforeach()

# The standard 16-colour palette, each entry blue, green, red and a zero byte.
set(palette
  "0x0000, 0x0000" "0x0000, 0x0080" "0x8000, 0x0000" "0x8000, 0x0080"
  "0x0080, 0x0000" "0x0080, 0x0080" "0x8080, 0x0000" "0xC0C0, 0x00C0"
  "0x8080, 0x0080" "0x0000, 0x00FF" "0xFF00, 0x0000" "0xFF00, 0x00FF"
  "0x00FF, 0x0000" "0x00FF, 0x00FF" "0xFFFF, 0x0000" "0xFFFF, 0x00FF")
string(JOIN ",\n  " entries ${palette})
string(APPEND header "  ${entries},\n")

# The pixels, bottom row first; two pixels a byte, the left one in the high
# nibble; each pair of bytes one word.
set(pixels "")
math(EXPR lastRow "${height} - 1")
foreach(y RANGE ${lastRow} 0 -1)
  picture_row(${y} row)
  string(REGEX REPLACE "(.)(.)(.)(.)" "0x\\3\\4\\1\\2, " words "${row}${padding}")
  string(APPEND pixels "  ${words}\n")
endforeach()
string(REGEX REPLACE ", \n$" "\n" pixels "${pixels}")

file(WRITE ${OUTPUT}.new
  "// Generated by resources/side_picture.cmake; do not edit.\n"
  "// Bitmap 103: the progress dialog's side picture, as a device-independent\n"
  "// bitmap (resource type 2, RT_BITMAP, holds no file header).\n"
  "103 2\n"
  "BEGIN\n"
  "${header}"
  "${pixels}"
  "END\n")
# Only a changed picture makes the resources build again.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
