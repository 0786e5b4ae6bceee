# Turns one Markdown page of the source tree into the page the release zip
# carries, with Windows line endings:
#   cmake -DSOURCE=README.md -DPAGE=out/README.html -DTEMPLATE=packaging/page.html.in
#         -DCMARK_GFM=/usr/bin/cmark-gfm -P packaging/render-page.cmake
# With CMARK_GFM set the page is HTML: the Markdown rendered by cmark-gfm
# (GitHub's dialect, so tables come out as tables), put into the template,
# and links to other Markdown pages pointed at their HTML pages.  Without it
# the Markdown itself is copied.
foreach(var SOURCE PAGE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "render-page.cmake needs -D${var}=...")
  endif()
endforeach()

if(CMARK_GFM)
  execute_process(
    COMMAND ${CMARK_GFM} --to html --extension table --extension autolink
            --extension strikethrough ${SOURCE}
    OUTPUT_VARIABLE PAGE_BODY
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmark-gfm failed on ${SOURCE}: ${status}")
  endif()
  # The zip holds the HTML pages only: a link to "x.md" or "x.md#part" in the
  # same tree becomes one to "x.html"; links to other sites stay.
  string(REGEX REPLACE "href=\"([^\":#]*)\\.md([#\"])" "href=\"\\1.html\\2" PAGE_BODY "${PAGE_BODY}")
  # The title is the page's first heading.
  file(STRINGS ${SOURCE} heading REGEX "^# " LIMIT_COUNT 1)
  string(REGEX REPLACE "^# +" "" PAGE_TITLE "${heading}")
  string(REPLACE "&" "&amp;" PAGE_TITLE "${PAGE_TITLE}")
  string(REPLACE "<" "&lt;" PAGE_TITLE "${PAGE_TITLE}")
  file(READ ${TEMPLATE} template)
  string(CONFIGURE "${template}" text @ONLY)
else()
  file(READ ${SOURCE} text)
endif()

string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${PAGE} "${text}")
