#include "base/text/errno_text.h"

#include <cerrno>
#include <cstring>

std::string CzechErrnoText(int error) {
  switch (error) {
    case ENOSPC: return "na zařízení není volné místo";
    case EDQUOT: return "překročena disková kvóta";
    case EFBIG: return "soubor by byl větší, než systém dovoluje";
    case EACCES: return "přístup odepřen";
    case EPERM: return "operace není dovolena";
    case EROFS: return "systém souborů je jen pro čtení";
    case EIO: return "chyba vstupu/výstupu zařízení";
    case EPIPE: return "druhá strana roury nebo spojení už nečte";
    case ENOENT: return "soubor nebo složka neexistuje";
    case EISDIR: return "je to složka";
    case ENOTDIR: return "část cesty není složka";
    case EBADF: return "výstup je zavřený nebo není otevřen pro zápis";
    case ENAMETOOLONG: return "jméno souboru je příliš dlouhé";
    case ELOOP: return "příliš mnoho symbolických odkazů";
    case EEXIST: return "soubor už existuje";
    case ETXTBSY: return "soubor je právě spuštěný program";
    case EMFILE:
    case ENFILE: return "příliš mnoho otevřených souborů";
    case ENXIO: return "zařízení nebo čtenář na druhé straně neexistuje";
    case ENOMEM: return "nedostatek paměti";
    case EBUSY: return "soubor nebo zařízení je používáno";
    case EINVAL: return "neplatný argument";
    case EADDRINUSE: return "adresa už je používána";
    case EADDRNOTAVAIL: return "adresa není na tomto počítači dostupná";
    case ECONNREFUSED: return "spojení odmítnuto";
    case EAGAIN: return "prostředek je dočasně nedostupný";
    case 0: return "zápis neúplný";
    default: break;
  }
  char buffer[256];
  // The GNU strerror_r, which returns the text (not always in buffer).
  return ::strerror_r(error, buffer, sizeof buffer);
}
