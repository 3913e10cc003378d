# Writes OUTPUT, a C++ source defining kQcReportJs and kQcReportCss from JS and CSS.
# Run by the build (cmake -P) whenever either file changes.
file(READ ${JS} js)
file(READ ${CSS} css)
foreach(text js css)
  string(FIND "${${text}}" ")qcasset\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${text} holds the raw string delimiter )qcasset\"")
  endif()
endforeach()
file(WRITE ${OUTPUT}.tmp
  "// Generated from qc/report.js and qc/report.css by qc/embed_assets.cmake.\n"
  "#include \"qc/qc_assets.h\"\n\nnamespace talverin {\n\n"
  "const char kQcReportJs[] = R\"qcasset(${js})qcasset\";\n\n"
  "const char kQcReportCss[] = R\"qcasset(${css})qcasset\";\n\n}  // namespace talverin\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
