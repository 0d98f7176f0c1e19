#include "cli/cli.h"

#include <QSet>
#include <csignal>

#include "base/text/baud.h"
#include "base/config/line_file.h"
#include "base/calibration/calibration_record.h"
#include "base/calibration/record_signature.h"
#include "base/settings/settings.h"
#include "base/config/line_file.h"
#include "base/wire/wire_budget.h"
#include "cli/calibration_record_options.h"
#include "cli/cli_context.h"
#include "cli/cli_mqtt.h"

namespace {

struct Command {
  QStringList words;
  QString arguments;      // shown after the words in the usage line
  int minArgs, maxArgs;   // positional arguments after the words
  QStringList options;    // the command's own; '=' marks a value
  QString help;
  int (*run)(CliContext&);
};

// Every command takes these; '|' gives the one-letter form, '=' a value.
const QStringList ConnectionOptions = {
    QStringLiteral("i|interface="), QStringLiteral("com-port="), QStringLiteral("isa-base="),
    QStringLiteral("ip="),          QStringLiteral("udp-port="), QStringLiteral("udp-timeout="),
    QStringLiteral("a|address="),   QStringLiteral("r|rate="),   QStringLiteral("t|timeout="),
    QStringLiteral("save"),         QStringLiteral("h|help"),    QStringLiteral("trace"),
    QStringLiteral("trace-file="),  QStringLiteral("stats"),     QStringLiteral("j|json")};
// Only before a command.
const QStringList ProgramOptions = {QStringLiteral("v|version")};

// "--trace=FILE": the parser knows no option whose value may be left out, so the file travels
// as an option of its own.
QStringList SplitTraceFile(const QStringList& args) {
  QStringList split;
  for (const QString& word : args) {
    if (word.startsWith(QLatin1String("--trace=")))
      split << QStringLiteral("--trace") << QStringLiteral("--trace-file=") + word.mid(8);
    else
      split << word;
  }
  return split;
}

const QString ConnectionHelp = QStringLiteral(
    "Připojení (výchozí hodnoty z W_qx510.ini; zapíše se jen s --save):\n"
    "  -i, --interface serial|isa|pci|usb|lan   rozhraní\n"
    "  --com-port N        sériový port COMn (1–255)\n"
    "  --isa-base HEX      bázová adresa karty ZK-660 (100h–3FFh)\n"
    "  --ip ADRESA         IP adresa převodníku QN-1660\n"
    "  --udp-port N        UDP port převodníku (0–65535)\n"
    "  --udp-timeout MS    UDP timeout (0–65535)\n"
    "  -a, --address N     adresa modulu (0–255)\n"
    "  -r, --rate BD       komunikační rychlost: 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600 nebo 115200\n"
    "  -t, --timeout MS    čas pro odpověď modulu (1–65535)\n"
    "  --save              uložit nastavení připojení do W_qx510.ini\n"
    "Sledování linky (u každého příkazu):\n"
    "  --trace[=SOUBOR]    každá výměna s modulem jako řádek na chybový výstup nebo do souboru\n"
    "  --stats             na konci počty výměn (dobré, bez odpovědi, pozdní, poškozené, odmítnuté)\n"
    "                      a doba odezvy (medián, 95. percentil, maximum)\n"
    "  -j, --json          stopa, statistika a data příkazu jako JSON\n"
    "  -h, --help          nápověda\n");

const QList<Command>& Commands() {
  static const QList<Command> commands = {
      {{QStringLiteral("identify")}, QString(), 0, 0, {},
       QStringLiteral("Vypíše název a verzi modulu. --json: jako JSON."), CmdIdentify},
      {{QStringLiteral("scan")}, QString(), 0, 0,
       {QStringLiteral("addresses="), QStringLiteral("rates="), QStringLiteral("scan-timeout=")},
       QStringLiteral("Najde všechny moduly na lince.\n"
                      "  --addresses SEZNAM   adresy, např. 0-255 nebo 1,5,10-20 (výchozí 0-255)\n"
                      "  --rates SEZNAM       rychlosti v Bd nebo all (výchozí all, nastavená první)\n"
                      "  --scan-timeout MS    čas pro odpověď při hledání, jak ho počítá timeout odpovědi (výchozí podle\n"
                      "                       rychlosti: na sériovém zařízení ticho na vedení a doba zpracování v modulu\n"
                      "                       + časovač latence převodníku + rezerva, kterou hledání změří na prvních\n"
                      "                       nalezených modulech, než ji zná %1 ms; přes simulátor celá výměna + %2 ms)\n"
                      "  --json               nalezené moduly jako JSON\n"
                      "Adresu, z níž přicházejí jen poškozené odpovědi, zatímco ostatní odpovídají čistě, nevypíše jako\n"
                      "modul, ale hlásí na chybový výstup: „pravděpodobně dva moduly na adrese N“.\n"
                      "Po hledání vrátí rozhraní nastavenou rychlost.")
           .arg(int(wire::SerialHostMargin.count() / 1000000))
           .arg(int(wire::HostMargin.count() / 1000000)),
       CmdScan},
      {{QStringLiteral("config"), QStringLiteral("show")}, QString(), 0, 0, {},
       QStringLiteral("Přečte celou konfiguraci modulu a vypíše ji po jménech i po bajtech. --json: jako JSON."),
       CmdConfigShow},
      {{QStringLiteral("config"), QStringLiteral("backup")}, QStringLiteral("SOUBOR|-"), 1, 1, {QStringLiteral("f|force")},
       QStringLiteral("Uloží konfiguraci modulu do textového souboru SOUBOR (- je standardní výstup); když některé\n"
                      "čtení selže, soubor nezapíše. Kalibrační konstanty zaznamená s poznámkou, že jsou vlastní modulu.\n"
                      "Když zápis selže, předchozí soubor zůstane (stav 2). Zařízení, rouru ani složku nepřepíše.\n"
                      "  -f, --force   přepsat existující soubor"),
       CmdConfigBackup},
      {{QStringLiteral("config"), QStringLiteral("restore")}, QStringLiteral("SOUBOR|-"), 1, 1,
       {QStringLiteral("dry-run"), QStringLiteral("with-address-rate"), QStringLiteral("with-calibration")},
       QStringLiteral("Zapíše do modulu konfiguraci ze zálohy SOUBOR (- je standardní vstup): jen bajty, které se liší,\n"
                      "každý s kontrolou zpětným čtením; nakonec přečte celou konfiguraci znovu a porovná ji se zálohou\n"
                      "(stav 1 při rozdílu, s jeho výpisem). Hodnotu, kterou by okna nástroje nezapsala, odmítne (stav 2).\n"
                      "Signál obnovu zastaví u dalšího bajtu a zpráva vypíše, které bajty modul drží.\n"
                      "Adresu a rychlost modulu jen s --with-address-rate, kalibrační konstanty (bajty 15–22,\n"
                      "vlastní každému modulu) jen s --with-calibration.\n"
                      "  --dry-run   jen vypíše, co by zapsal"),
       CmdConfigRestore},
      {{QStringLiteral("config"), QStringLiteral("verify")}, QStringLiteral("SOUBOR|-"), 1, 1,
       {QStringLiteral("with-address-rate"), QStringLiteral("with-calibration")},
       QStringLiteral("Porovná konfiguraci modulu se zálohou SOUBOR (- je standardní vstup) a vypíše rozdíly (stav 1\n"
                      "při rozdílu). Adresu a rychlost modulu porovná jen s --with-address-rate, kalibrační konstanty\n"
                      "jen s --with-calibration. --json: rozdíly jako JSON."),
       CmdConfigVerify},
      {{QStringLiteral("set")}, QStringLiteral("NAME VALUE [NAME VALUE ...]"), 2, 64, {},
       QStringLiteral("Zapíše pojmenované hodnoty s kontrolou zpětným čtením:\n"
                      "  address 0-255, rate 600|1200|2400|4800|9600|19200|38400|57600|115200, range 0-10V|0-20mA,\n"
                      "  din-negation, dout-negation, dout-initial MASKA (0xHHHHHHHH, seznam bitů 0,3,17 nebo none)"),
       CmdSet},
      {{QStringLiteral("watch")}, QStringLiteral("ZDROJE"), 1, 1,
       QStringList{QStringLiteral("interval="), QStringLiteral("n|count="), QStringLiteral("format="),
                   QStringLiteral("csv-locale"), QStringLiteral("o|output="), QStringLiteral("no-bom"),
                   QStringLiteral("addresses=")} +
           MqttWatchOptions,
       QStringLiteral("Vypisuje okamžité hodnoty s časem (ISO 8601 s posunem od UTC), do Ctrl+C nebo do zadaného počtu.\n"
                      "ZDROJE: ain0, din, status, nebo několik najednou oddělených čárkou (ain0,din,status).\n"
                      "Nezdařené čtení má svůj řádek s textem chyby.\n"
                      "  --interval MS            perioda čtení (výchozí 500)\n"
                      "  -n, --count N            počet čtení\n"
                      "  --format text|csv|json   formát řádků (výchozí text)\n"
                      "  --csv-locale             CSV s desetinnou značkou a oddělovačem podle národního prostředí\n"
                      "                           (česky 5,450 a středník), jak je čte tabulkový procesor; bez ní\n"
                      "                           tečka a čárka pro skripty\n"
                      "  -o, --output SOUBOR      řádky do souboru místo na standardní výstup; nový soubor CSV začne\n"
                      "                           znakem BOM (UTF-8), aby tabulkový procesor četl česká písmena\n"
                      "  --no-bom                 soubor CSV bez znaku BOM, pro skripty\n"
                      "  --addresses SEZNAM       několik modulů na rychlosti připojení, např. 0-31 nebo 1,5,10-20; každý\n"
                      "                           řádek nese adresu modulu (text a JSON), modul, který neodpovídá, má řádek\n"
                      "                           s chybou\n") +
           MqttWatchHelp,
       CmdWatch},
      {{QStringLiteral("dout")}, QStringLiteral("MASK|BITS"), 1, 1, {},
       QStringLiteral("Nastaví všech 32 výstupů: maska 0xHHHHHHHH, seznam sepnutých bitů 0,3,17 nebo none."),
       CmdDout},
      {{QStringLiteral("status"), QStringLiteral("clear")}, QString(), 0, 0, {},
       QStringLiteral("Vynuluje Status registr modulu."), CmdStatusClear},
      {{QStringLiteral("calibrate")}, QStringLiteral("voltage|current"), 1, 1,
       QStringList{QStringLiteral("zero-ready"), QStringLiteral("reference="), QStringLiteral("settle="),
                   QStringLiteral("record=")} + CalibrationRecordOptions,
       QStringLiteral("Dvoubodová kalibrace napěťového nebo proudového rozsahu vstupu 0.\n"
                      "  --zero-ready        vstup je už zkratován: měří nulu bez dotazu\n"
                      "  --reference HODNOTA referenční hodnota ve V nebo mA; pak se jen potvrdí Enter\n"
                      "  --settle MS         čekání před měřením (výchozí 1000)\n"
                      "Se záznamem kalibrace (pro protokol, qx510-line --protocol ZÁZNAM -o SOUBOR.pdf):\n"
                      "  --record SOUBOR|SLOŽKA  zapíše záznam kalibrace do nového souboru nebo do složky pod jménem\n"
                      "                      OZNAČENÍ_RRRRMMDD-HHMMSS.qx510cal; --record= do složky záznamů uživatele\n"
                      "                      (%1), kde je najde historie pracoviště\n"
                      "                      Postup: měření před kalibrací s referencí, dvoubodová kalibrace, vypnutí\n"
                      "                      a zapnutí napájení modulu (obsluha potvrdí Enter, program počká, až modul\n"
                      "                      odpoví), měření po kalibraci. Záznam vznikne i po zrušení nebo selhání.\n"
                      "                      Zrušení v kterémkoli kroku vrátí rozsah i konstanty, jak byly.\n"
                      "  --tag TEXT          označení nebo výrobní číslo modulu (povinné; modul je nehlásí)\n"
                      "  --operator JMÉNO    kdo kalibruje (povinné)\n"
                      "  --reference-name TEXT, --reference-serial TEXT, --reference-valid-until RRRR-MM-DD\n"
                      "                      referenční přístroj, jeho výrobní číslo a platnost jeho kalibrace\n"
                      "                      (název povinný)\n"
                      "  --tolerance PROCENT tolerance v % rozsahu (výchozí 0,1 %: ±0,010 V, ±0,020 mA)\n"
                      "  --readings N        počet měření před i po kalibraci (1–100, výchozí 5)\n"
                      "  --power-wait MS     jak dlouho čekat, až modul po zapnutí odpoví (výchozí 30000)\n"
                      "Se záznamem: stav 1 i tehdy, když je vstup po kalibraci mimo toleranci.")
           .arg(CalibrationRecordFolder()),
       CmdCalibrate},
      {{QStringLiteral("record"), QStringLiteral("verify")}, QStringLiteral("ZÁZNAM..."), 1, 1000, {},
       QStringLiteral("Ověří záznamy kalibrace (*.qx510cal) jako qx510-line --protocol: pečeť, podpis Ed25519, údaje\n"
                      "a klíč, kterým je záznam podepsán. Za každý záznam řádek: v pořádku (s číslem protokolu a\n"
                      "podpisem) na standardní výstup, odmítnutý s důvodem na chybový výstup.\n"
                      "Důvěryhodný je vlastní klíč uživatele (%1) a veřejné klíče ve složce %2.\n"
                      "Stav: 0 všechny v pořádku, 3 některý odmítnut (poškozený, padělaný, nepodepsaný nebo podepsaný\n"
                      "neznámým klíčem), 2 některý nelze přečíst.")
           .arg(SigningKeyFolder(), TrustedKeysFolder()),
       CmdRecordVerify},
      // A whole line, in the workbench's line file.
      {{QStringLiteral("line"), QStringLiteral("backup")}, QStringLiteral("SOUBOR|-"), 1, 1,
       {QStringLiteral("line="), QStringLiteral("f|force")},
       QStringLiteral("Zálohuje celou linku do souboru linky pracoviště (*.qx510line) SOUBOR (- je standardní výstup):\n"
                      "u každého modulu identifikaci a celou konfiguraci. Modul, který neodpoví, zapíše jako chybějící\n"
                      "(missing=1). Za každý modul řádek s adresou, rychlostí a výsledkem (na standardní výstup, při\n"
                      "zálohování na standardní výstup na chybový). Když neodpoví žádný modul nebo přijde signál, soubor\n"
                      "nezapíše. Zařízení, rouru ani složku nepřepíše.\n"
                      "  --line SOUBOR   linka, která se zálohuje (- je standardní vstup; výchozí poslední linka\n"
                      "                  pracoviště qx510-line, %1)\n"
                      "  -f, --force     přepsat existující soubor\n"
                      "Stav: 0 zálohovány všechny moduly, 1 některý neodpověděl (soubor zapsán bez něj), 3 neodpověděl\n"
                      "žádný.").arg(LastLinePath()),
       CmdLineBackup},
      {{QStringLiteral("line"), QStringLiteral("restore")}, QStringLiteral("SOUBOR|-"), 1, 1,
       {QStringLiteral("with-address-rate"), QStringLiteral("with-calibration")},
       QStringLiteral("Obnoví moduly linky ze zálohy linky SOUBOR (- je standardní vstup), každý jako config restore: jen\n"
                      "bajty, které se liší, s kontrolou zpětným čtením, nakonec celou konfiguraci přečte znovu a porovná.\n"
                      "Nejdřív identifikuje všechny moduly; když je na místě některého jiný typ modulu nebo záloha\n"
                      "obsahuje hodnotu, kterou by okna nástroje nezapsala, nezapíše nic (stav 2). Za každý modul řádek\n"
                      "s adresou, rychlostí a výsledkem. Signál obnovu zastaví mezi moduly (rozepsaný modul dokončí)\n"
                      "a zpráva vypíše, které moduly jsou obnoveny a které nezačaty.\n"
                      "Adresu a rychlost jen s --with-address-rate, kalibrační konstanty jen s --with-calibration.\n"
                      "Stav: 0 obnoveny všechny moduly, 1 některý se nepodařil nebo v záloze chybí (ostatní obnoveny),\n"
                      "3 neodpověděl žádný."),
       CmdLineRestore},
      {{QStringLiteral("line"), QStringLiteral("verify")}, QStringLiteral("SOUBOR|-"), 1, 1,
       {QStringLiteral("with-address-rate"), QStringLiteral("with-calibration")},
       QStringLiteral("Porovná moduly linky se zálohou linky SOUBOR (- je standardní vstup), nic nezapíše. Za každý modul\n"
                      "řádek s adresou, rychlostí a výsledkem, s rozdílnými bajty. Adresu a rychlost porovná jen\n"
                      "s --with-address-rate, kalibrační konstanty jen s --with-calibration. --json: řádky jako JSON.\n"
                      "Stav: 0 všechny moduly souhlasí, 1 některý se liší, nejde přečíst nebo v záloze chybí, 2 na místě\n"
                      "některého je jiný typ modulu, 3 neodpověděl žádný."),
       CmdLineVerify},
      // Commissioning: a new module put in service, a line moved to another rate.
      {{QStringLiteral("commission")}, QString(), 0, 0,
       {QStringLiteral("from="), QStringLiteral("to="), QStringLiteral("tag="), QStringLiteral("template="),
        QStringLiteral("line="), QStringLiteral("power-wait=")},
       QStringLiteral("Uvede do provozu jeden nový modul, připojený samotný:\n"
                      "najde ho na místě dodání, zapíše vzorovou konfiguraci, pak novou adresu a rychlost (každý bajt\n"
                      "se zpětným čtením), vyzve k vypnutí a zapnutí napájení (potvrzuje se Enter), najde modul na\n"
                      "novém místě, přečte celou konfiguraci a porovná ji s plánem. Stav 0 jen tehdy, když modul na\n"
                      "novém místě odpověděl s plánovanou konfigurací. Když krok selže, zpráva řekne, kde modul teď\n"
                      "odpovídá, a krok lze zopakovat (napište a a Enter).\n"
                      "Před prvním zápisem odmítne (nic nezapíše): poškozené odpovědi na místě dodání (pravděpodobně\n"
                      "dva moduly na jedné adrese, stav 3), jiný modul už na novém místě, vzor z jiného typu modulu\n"
                      "nebo s hodnotou, kterou by okna nástroje nezapsala (stav 2). Žádný modul na místě dodání: stav 3.\n"
                      "  --from ADRESA@RYCHLOST  místo dodání nových modulů, např. 0@9600 (povinné)\n"
                      "  --to ADRESA@RYCHLOST    místo modulu na lince, např. 5@57600 (povinné)\n"
                      "  --tag TEXT              označení modulu pro soubor linky a výsledek\n"
                      "  --template SOUBOR[:ADRESA]  vzor: záloha konfigurace (config backup), nebo modul ze souboru\n"
                      "                          linky se zálohou (ADRESA nebo ADRESA@RYCHLOST); bez adresy a rychlosti\n"
                      "                          modulu a bez kalibračních konstant, které má každý modul své\n"
                      "  --line SOUBOR           přidá modul (s označením a ověřenou konfigurací) do souboru linky;\n"
                      "                          neexistující soubor založí\n"
                      "  --power-wait MS         jak dlouho čekat, až modul po zapnutí odpoví (výchozí 30000)\n"
                      "Na standardní výstup: address, rate, tag, ident, verified (--json: jako JSON)."),
       CmdCommission},
      {{QStringLiteral("line"), QStringLiteral("rate")}, QString(), 0, 0,
       {QStringLiteral("to="), QStringLiteral("line="), QStringLiteral("power-wait=")},
       QStringLiteral("Převede celou linku na jinou rychlost: do každého modulu ze souboru linky zapíše novou\n"
                      "rychlost se zpětným čtením (modul, který zápis odmítne, zůstane a je uveden), vyzve k jednomu\n"
                      "vypnutí a zapnutí napájení linky (Enter), pak hledá každý modul na nové rychlosti, jinak na\n"
                      "staré, jinak na ostatních. Za každý modul řádek: kde teď odpovídá. Soubor linky se přepíše\n"
                      "podle toho, kde moduly odpovídají. Stav 0, když všechny odpovídají na nové rychlosti, jinak 1.\n"
                      "Dva moduly na jedné adrese (s různou rychlostí) odmítne před zápisem (stav 2).\n"
                      "  --to BD           nová rychlost linky (povinné)\n"
                      "  --line SOUBOR     soubor linky (výchozí: poslední linka pracoviště, %1)\n"
                      "  --power-wait MS   jak dlouho čekat, až linka po zapnutí odpoví (výchozí 30000)\n"
                      "--json: řádky jako JSON.")
           .arg(LastLinePath()),
       CmdLineRate},
  };
  return commands;
}

QString Usage(const Command& command) {
  QString line = QStringLiteral("qx510-cli ") + command.words.join(QLatin1Char(' '));
  if (!command.arguments.isEmpty()) line += QLatin1Char(' ') + command.arguments;
  return line + QStringLiteral(" [volby]");
}

const QString ExitHelp = QStringLiteral(
    "Stav: 0 úspěch, 1 modul odpověděl chybou nebo verify našel rozdíl, 2 chybné zadání nebo soubor\n"
    "(i soubor či výstup, který nejde zapsat), 3 není spojení nebo ovladač nebo broker MQTT odmítl přihlášení\n"
    "či certifikát (record verify: záznam odmítnut), 4 watch s --mqtt nedoručil brokeru žádnou zprávu,\n"
    "130 a 143 přerušeno signálem SIGINT (Ctrl+C) a SIGTERM (zápis se zastaví u dalšího\n"
    "bajtu a zpráva řekne, co modul drží; signál po posledním kroku příkazu stav nemění).\n");

void PrintOverview(QTextStream& out) {
  out << "qx510-cli: servis modulu QX-510 z příkazové řádky.\n\nPříkazy:\n";
  for (const Command& command : Commands()) out << "  " << Usage(command) << '\n';
  out << "\nNápověda k příkazu: qx510-cli PŘÍKAZ --help\n  -v, --version       verze programu\n\n"
      << ConnectionHelp << '\n' << ExitHelp;
}

// Commands that share their first word ("config show", "config backup", ...).
QList<const Command*> Group(const QString& word) {
  QList<const Command*> group;
  for (const Command& command : Commands())
    if (command.words.size() > 1 && command.words.front() == word) group << &command;
  return group;
}

void PrintGroup(QTextStream& out, const QString& word) {
  out << "qx510-cli " << word << " PODPŘÍKAZ [volby]\n\nPodpříkazy:\n";
  for (const Command* command : Group(word)) {
    out << "  " << Usage(*command) << '\n';
    for (const QString& line : command->help.split(QLatin1Char('\n'))) out << "      " << line << '\n';
  }
  out << "\nNápověda k podpříkazu: qx510-cli " << word << " PODPŘÍKAZ --help\n\n" << ConnectionHelp;
}

const Command* FindCommand(const QStringList& words, QString& error) {
  if (words.isEmpty()) {
    error = QStringLiteral("Chybí příkaz; qx510-cli --help vypíše příkazy.");
    return nullptr;
  }
  bool firstKnown = false;
  for (const Command& command : Commands()) {
    if (command.words.front() != words.front()) continue;
    firstKnown = true;
    if (command.words.size() == 1 || (words.size() > 1 && command.words[1] == words[1])) return &command;
  }
  error = firstKnown ? QStringLiteral("Neznámý nebo chybějící podpříkaz: qx510-cli %1 --help").arg(words.front())
                     : QStringLiteral("Neznámý příkaz: %1").arg(words.front());
  return nullptr;
}

bool ParseInterface(const QString& text, uint8_t& iface) {
  static const QStringList names = {QStringLiteral("serial"), QStringLiteral("isa"), QStringLiteral("pci"),
                                    QStringLiteral("usb"), QStringLiteral("lan")};
  const qsizetype index = names.indexOf(text.trimmed().toLower());
  qint64 number = 0;
  if (index >= 0)
    iface = uint8_t(index);
  else if (ParseNumber(text, 0, InterfaceCount - 1, number))
    iface = uint8_t(number);
  else
    return false;
  return true;
}

bool ParseIsaBase(QString text, uint16_t& base) {
  text = text.trimmed();
  if (text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)) text.chop(1);
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) text = text.mid(2);
  bool ok = false;
  const uint value = text.toUInt(&ok, 16);
  if (!ok || value < 0x100 || value > 0x3FF) return false;
  base = uint16_t(value);
  return true;
}

// The connection options over the settings file's values. Returns the message of the first
// bad one, or an empty text.
QString ApplyConnectionOptions(const ParsedArgs& args, TData& data) {
  qint64 n = 0;
  auto given = [&](const char* name) { return args.has(QLatin1String(name)); };
  auto value = [&](const char* name) { return args.value(QLatin1String(name)); };
  if (given("interface") && !ParseInterface(value("interface"), data.Interface))
    return QStringLiteral("Neznámý typ rozhraní");
  if (given("com-port")) {
    if (!ParseNumber(value("com-port"), 1, 255, n)) return QStringLiteral("Číslo portu musí být v rozsahu 1–255.");
    data.ComPort = uint8_t(n);
  }
  if (given("isa-base") && !ParseIsaBase(value("isa-base"), data.IsaBaseAddress))
    return QStringLiteral("Bázová adresa musí být v rozsahu 100h–3FFh.");
  if (given("ip")) {
    if (value("ip").trimmed().isEmpty()) return QStringLiteral("Neplatná IP adresa");
    data.IpAddress = value("ip").trimmed().toLatin1();
  }
  if (given("udp-port")) {
    if (!ParseNumber(value("udp-port"), 0, 65535, n)) return QStringLiteral("Neplatný UDP port");
    data.UdpPort = int32_t(n);
  }
  if (given("udp-timeout")) {
    if (!ParseNumber(value("udp-timeout"), 0, 65535, n)) return QStringLiteral("Neplatný UDP timeout");
    data.UdpTimeout = int32_t(n);
  }
  if (given("address")) {
    uint8_t address = 0;
    if (!ParseByteInRange(value("address"), 0, 255, address)) return AddressRangeText.trimmed();
    data.ModuleAddress = address;
  }
  if (given("rate")) {
    int code = 0;
    if (!ParseRate(value("rate"), code)) return RateChoicesText;
    data.BaudRate = BaudCodeToRate(code);
  }
  if (given("timeout")) {
    if (!ParseNumber(value("timeout"), 1, 65535, n)) return QStringLiteral("Timeout musí být v rozsahu 1–65535 ms.");
    data.ResponseTimeout = uint16_t(n);
  }
  if (data.Interface >= InterfaceCount) return QStringLiteral("Neznámý typ rozhraní");
  return {};
}

}  // namespace

int RunCli(const QStringList& given, CliIo& io) {
  const QStringList args = SplitTraceFile(given);
  // Every option any command knows, to find the command words first.
  QStringList everyOption = ConnectionOptions + ProgramOptions;
  for (const Command& command : Commands())
    for (const QString& option : command.options)
      if (!everyOption.contains(option)) everyOption << option;
  ParsedArgs first;
  const QString firstError = ParseArgs(args, everyOption, first);
  const QStringList& words = first.positional;
  if (firstError.isEmpty() && words.isEmpty() && first.has(QStringLiteral("version"))) {
    *io.out << "qx510-cli " << QX510_VERSION << '\n';
    return ExitOk;
  }
  if (firstError.isEmpty() && words.isEmpty() && (first.has(QStringLiteral("help")) || args.isEmpty())) {
    PrintOverview(args.isEmpty() ? *io.err : *io.out);
    return args.isEmpty() ? ExitUsage : ExitOk;
  }
  if (words.value(0) == QLatin1String("help")) {
    PrintOverview(*io.out);
    return ExitOk;
  }
  if (firstError.isEmpty() && words.size() == 1 && first.has(QStringLiteral("help")) && !Group(words[0]).isEmpty()) {
    PrintGroup(*io.out, words[0]);
    return ExitOk;
  }

  QString error;
  const Command* command = FindCommand(words, error);
  if (command == nullptr) {
    *io.err << (firstError.isEmpty() ? error : firstError) << Qt::endl;
    return ExitUsage;
  }
  CliContext c(io);
  const QString parseError = ParseArgs(args, ConnectionOptions + command->options, c.args);
  if (!parseError.isEmpty()) return c.fail(ExitUsage, parseError);
  if (!firstError.isEmpty()) return c.fail(ExitUsage, firstError);
  if (c.args.has(QStringLiteral("help"))) {
    c.out() << Usage(*command) << "\n\n" << command->help << "\n\n" << ConnectionHelp << '\n' << ExitHelp;
    return ExitOk;
  }
  c.args.positional = c.args.positional.mid(command->words.size());
  const qsizetype count = c.args.positional.size();
  if (count < command->minArgs || count > command->maxArgs)
    return c.fail(ExitUsage, QStringLiteral("Použití: ") + Usage(*command));

  InitData(&c.data);
  c.settingsFile = ConnectionSettingsPath();
  QString settingsError;
  if (!LoadConnectionSettings(&c.data, c.settingsFile, &settingsError)) {
    // A file that is there but cannot be used: connecting with the defaults would reach
    // another line than the one set.
    if (!settingsError.isEmpty())
      return c.fail(ExitUsage, QStringLiteral("Soubor nastavení %1 nelze použít: %2.").arg(c.settingsFile, settingsError));
    c.settingsFile.clear();
  }
  const QString optionError = ApplyConnectionOptions(c.args, c.data);
  if (!optionError.isEmpty()) return c.fail(ExitUsage, optionError);
  if (const QString watchError = c.startWatching(); !watchError.isEmpty()) return c.fail(ExitUsage, watchError);

  int result = command->run(c);
  c.disconnect();
  // 128 + the signal only for a command the signal cut short: such a command returns a status
  // from 128 up and has said how far it got. One that ran to its end (the signal came after
  // its last step, or while it did something that is never cut, such as a calibration's
  // write-back) keeps its own status, and the operator learns that the signal changed nothing.
  if (const int signal = c.interruptSignal(); signal != 0) {
    if (result >= 128)
      result = 128 + signal;
    else
      c.say(QStringLiteral("Příkaz doběhl do konce; signál %1 už nic nepřerušil.").arg(c.signalName()));
  }
  return c.finish(result);
}
