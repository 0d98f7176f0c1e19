# help2man writes its own parts of a page in English (the header line, NAME, DESCRIPTION);
# this makes them Czech like the help text they frame, and puts the ASCII fallbacks of the
# Czech letters first so that the page reads under any locale.
# Usage: cmake -DPAGE=<page.1> -DLETTERS=<ascii-letters.roff> -DVERSION=<x.y> -P czech_help2man.cmake
file(READ ${PAGE} page)
file(READ ${LETTERS} letters)
string(REGEX REPLACE "\n\\.TH ([^ \n]+) [^\n]*" "\n.TH \\1 1 \"\" \"qx510 ${VERSION}\" \"Uživatelské příkazy\"" page "${page}")
string(REPLACE "\n.SH NAME\n" "\n.SH JMÉNO\n" page "${page}")
string(REPLACE "\n.SH DESCRIPTION\n" "\n.SH POPIS\n" page "${page}")
file(WRITE ${PAGE} "${letters}${page}")
