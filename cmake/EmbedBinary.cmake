# tarvik_embed_binary(<target> INPUT <file> SYMBOL <name> [DEPENDS <targets>...])
#
# Turns a binary file into a generated C++ source with the byte array
# `const std::uint8_t <name>_data[]` and `const std::size_t <name>_size`, and
# adds it to <target>. The file may itself be a build product: name the
# targets that make it in DEPENDS.
set(TARVIK_BIN_TO_CPP ${CMAKE_CURRENT_LIST_DIR}/BinToCpp.cmake)

function(tarvik_embed_binary target)
  cmake_parse_arguments(arg "" "INPUT;SYMBOL" "DEPENDS" ${ARGN})
  if(NOT arg_INPUT OR NOT arg_SYMBOL)
    message(FATAL_ERROR "tarvik_embed_binary: INPUT and SYMBOL are required")
  endif()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${arg_SYMBOL}.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${arg_INPUT} -DOUTPUT=${output} -DSYMBOL=${arg_SYMBOL}
            -P ${TARVIK_BIN_TO_CPP}
    DEPENDS ${arg_INPUT} ${TARVIK_BIN_TO_CPP} ${arg_DEPENDS}
    COMMENT "Embedding ${arg_INPUT} as ${arg_SYMBOL}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
