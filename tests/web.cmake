# Tests of the web build, registered when its output directory is given:
#   web/build.sh $PWD/build-web
#   cmake -S . -B build -DVINTO_WEB_BUILD=$PWD/build-web
# Node.js runs the wasm and vinto-render.mjs against the native build; the
# browser tests need Debian's chromium (headless). Label: web.
set(VINTO_WEB_BUILD "" CACHE PATH "Output directory of web/build.sh, for the web tests")
if(VINTO_WEB_BUILD AND TARGET vinto-render)
  find_program(VINTO_NODE NAMES node nodejs REQUIRED)
  set(web_tests ${CMAKE_CURRENT_LIST_DIR}/web)
  add_test(NAME web_wasm_digests
    COMMAND ${VINTO_NODE} ${web_tests}/wasm.mjs ${VINTO_WEB_BUILD} $<TARGET_FILE:vinto-render> ${VINTO_CORPUS_DIR})
  set_tests_properties(web_wasm_digests PROPERTIES LABELS web)
  find_program(VINTO_CHROMIUM chromium)
  if(VINTO_CHROMIUM)
    foreach(page worklet demo)
      add_test(NAME web_${page}
        COMMAND ${VINTO_NODE} ${web_tests}/browser.mjs ${page} ${VINTO_WEB_BUILD}
          $<TARGET_FILE:vinto-render> ${CMAKE_BINARY_DIR}/web)
      set_tests_properties(web_${page} PROPERTIES LABELS web ENVIRONMENT VINTO_CHROMIUM=${VINTO_CHROMIUM}
        TIMEOUT 120)
    endforeach()
  endif()
endif()
