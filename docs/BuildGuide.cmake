# cmake -P: the guide's Markdown to HTML inside the page template, and the
# pictures copied beside it. Arguments: CMARK_GFM, SOURCE, TEMPLATE, OUTPUT,
# PICTURES (a list).
# Safe mode (no --unsafe): raw HTML in the Markdown is left out, as the guide
# needs none.
execute_process(COMMAND ${CMARK_GFM} -e table -e autolink -e strikethrough ${SOURCE}
  OUTPUT_VARIABLE BODY ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmark-gfm failed on ${SOURCE}: ${errors}")
endif()
get_filename_component(dir ${OUTPUT} DIRECTORY)
# A picture removed from docs/ goes from the folder too.
file(GLOB old ${dir}/*.png ${dir}/*.svg)
if(old)
  file(REMOVE ${old})
endif()
file(MAKE_DIRECTORY ${dir})
foreach(picture IN LISTS PICTURES)
  file(COPY ${picture} DESTINATION ${dir})
endforeach()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
