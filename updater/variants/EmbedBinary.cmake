# SPDX-License-Identifier: MIT
# Turns a binary file into a C++ header holding it as a constexpr byte array.
#   cmake -DINPUT=file -DOUTPUT=header -DNAMESPACE=ns -DNAME=kName
#         [-DEXPECTED_SIZE=bytes] -P EmbedBinary.cmake
# With EXPECTED_SIZE the build stops when the file has any other size: a flash
# image of the wrong length must never make it into a program.
cmake_minimum_required(VERSION 3.25)

foreach(var INPUT OUTPUT NAMESPACE NAME)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedBinary: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "EmbedBinary: ${INPUT} does not exist")
endif()

file(SIZE "${INPUT}" size)
if(DEFINED EXPECTED_SIZE AND NOT size EQUAL EXPECTED_SIZE)
  message(FATAL_ERROR
    "EmbedBinary: ${INPUT} is ${size} bytes; this build needs exactly ${EXPECTED_SIZE} bytes")
endif()
if(size EQUAL 0)
  message(FATAL_ERROR "EmbedBinary: ${INPUT} is empty")
endif()

file(READ "${INPUT}" hex HEX)
# 32 bytes (64 hex digits) per line keeps the header readable and the regex cheap.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 32 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.
#pragma once
#include <cstdint>

namespace ${NAMESPACE} {
inline constexpr std::uint8_t ${NAME}[${size}] = {
    ${bytes}
};
} // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
