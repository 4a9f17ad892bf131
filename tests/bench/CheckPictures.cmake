# Runs vostrel-render into OUT and checks each picture it must write: a PNG,
# at least the window's size (736 x 456), taller where the port list hangs
# below the window, and not a near-empty file.
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${RENDER}" "${OUT}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vostrel-render exited with ${rc}:\n${out}${err}")
endif()

# name:least height
set(pictures start.png:500 port-failed.png:456 instruction.png:456 damaged.png:456 parameters.png:456
  thankyou.png:456)
foreach(row IN LISTS pictures)
  string(REGEX MATCH "^([^:]+):([0-9]+)$" _ "${row}")
  set(name "${CMAKE_MATCH_1}")
  set(least "${CMAKE_MATCH_2}")
  set(path "${OUT}/${name}")
  if(NOT EXISTS "${path}")
    message(SEND_ERROR "${name}: not written")
    continue()
  endif()
  file(SIZE "${path}" size)
  # Signature, IHDR's length and type, then width and height, big-endian.
  file(READ "${path}" head LIMIT 24 HEX)
  string(SUBSTRING "${head}" 0 32 magic)
  string(SUBSTRING "${head}" 32 8 width)
  string(SUBSTRING "${head}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT magic STREQUAL "89504e470d0a1a0a0000000d49484452")
    message(SEND_ERROR "${name}: not a PNG")
  elseif(NOT width EQUAL 736 OR height LESS least)
    message(SEND_ERROR "${name}: ${width} x ${height}, expected 736 wide and at least ${least} high")
  elseif(size LESS 10000)
    message(SEND_ERROR "${name}: only ${size} bytes")
  endif()
endforeach()
