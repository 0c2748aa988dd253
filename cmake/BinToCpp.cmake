# Script mode: writes the bytes of INPUT as a C++ byte array into OUTPUT.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P BinToCpp.cmake
# The array is `const std::uint8_t <SYMBOL>_data[]` with `<SYMBOL>_size`.
foreach(var INPUT OUTPUT SYMBOL)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BinToCpp: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
if(size EQUAL 0)
  set(body "    0")
else()
  # 16 bytes a line: "0xAB, " each.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f], ){16})" "\\1\n    " bytes "${bytes}")
  string(REGEX REPLACE ", *\n? *$" "" bytes "${bytes}")
  set(body "    ${bytes}")
endif()

get_filename_component(input_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${input_name}; do not edit.
#include <cstddef>
#include <cstdint>

extern const std::uint8_t ${SYMBOL}_data[];
extern const std::size_t ${SYMBOL}_size;

alignas(16) const std::uint8_t ${SYMBOL}_data[] = {
${body}
};
const std::size_t ${SYMBOL}_size = ${size};
")
# Only touch the output when the bytes changed, so that nothing rebuilds needlessly.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
