# Where users report a problem: the project's HOMEPAGE_URL, or, while it is empty, wherever they
# got the tools, in words short enough for the readme's lines of 80 columns. The readme, the manual pages and the native programs' --help say it in these
# words: REPORT_TO_EN ends "Report problems ..." and "Please report it ...", REPORT_TO_JA comes
# before "お知らせください".
if(PROJECT_HOMEPAGE_URL STREQUAL "")
  set(REPORT_TO_JA "このツールを入手した場所 (配布ページや、渡してくれた人) に")
  set(REPORT_TO_EN "to the page or the person you got the tools from")
else()
  set(REPORT_TO_JA "${PROJECT_HOMEPAGE_URL} に")
  set(REPORT_TO_EN "at ${PROJECT_HOMEPAGE_URL}")
endif()
