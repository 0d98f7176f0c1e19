#pragma once

#include <QString>
#include <QtGlobal>

// The form of a Czech word that agrees with a whole count `n`: `one` for 1, `few` for 2 to 4,
// `many` for 0 and 5 on (as Czech grammar and CLDR have it, so 21, 22 and 101 take `many`:
// "21 bajtů", "22 bajtů"). The caller passes the forms in the case its sentence needs, e.g.
// the genitive after "z": CzechPlural(n, "bajtu", "bajtů", "bajtů") gives "0 z 1 bajtu".
// A negative count agrees like its magnitude. Only whole counts: a decimal number ("2,5")
// takes the genitive singular ("bajtu") whatever its value, so such a text passes that form
// itself. The forms are UTF-8.
QString CzechPlural(qint64 n, const char* one, const char* few, const char* many);

// The count and its word: "1 modul", "3 moduly", "5 modulů".
QString CzechCount(qint64 n, const char* one, const char* few, const char* many);

// A rate per second with its word: "1 odečet/s", "3 odečty/s", "12 odečtů/s" (rounded to a
// whole count), and "méně než 1 odečet/s" for a rate above 0 and below 1.
QString CzechRate(double perSecond, const char* one, const char* few, const char* many);
