// A printer's own SNMPv3 settings, kept with its accessories on pages a core dump leaves out.
#include "app/printer_snmp.h"

#include <cstring>

#include "app/accessory_parts.h"
#include "common/secret.h"
#include "log/text.h"

SettingOutcome setPrinterSnmpV3(pappl_printer_t* printer, const SnmpV3Settings& settings, char* why,
                                size_t why_size) {
  AccessoriesRef a = acquireAccessories(printer);
  Secret<SnmpV3Settings> v3;
  if (!a || v3.get() == nullptr || a->v3.get() == nullptr) {
    copy_text(why, why_size, "no room for the settings");
    return SettingOutcome::kRefused;
  }
  *v3 = settings;
  {
    Locked locked(a->lock);
    if (a->use_v3) {
      if (v3->auth_passphrase[0] == '\0') {
        copy_text(v3->auth_passphrase, sizeof(v3->auth_passphrase), a->v3->auth_passphrase);
      }
      if (v3->priv_passphrase[0] == '\0') {
        copy_text(v3->priv_passphrase, sizeof(v3->priv_passphrase), a->v3->priv_passphrase);
      }
    }
  }
  SnmpSettingsReport report;
  if (!checkSnmpV3Settings(*v3, report)) {
    snmpSettingsProblemWords(report, why, why_size);
    return SettingOutcome::kRefused;
  }
  {
    Locked locked(a->lock);
    *a->v3 = *v3;
    a->use_v3 = true;
  }
  return saveSetting(a.get(), why, why_size);
}

SettingOutcome clearPrinterSnmpV3(pappl_printer_t* printer, char* why, size_t why_size) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) {
    copy_text(why, why_size, "the printer has no accessories");
    return SettingOutcome::kRefused;
  }
  {
    Locked locked(a->lock);
    a->use_v3 = false;
    if (a->v3.get() != nullptr) explicit_bzero(a->v3.get(), sizeof(SnmpV3Settings));
  }
  return saveSetting(a.get(), why, why_size);
}

bool shownPrinterSnmpV3(pappl_printer_t* printer, SnmpV3Settings* shown, bool* auth_set,
                        bool* priv_set) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) return false;
  Locked locked(a->lock);
  if (!a->use_v3 || a->v3.get() == nullptr) return false;
  const SnmpV3Settings& v3 = *a->v3;
  copy_text(shown->user, sizeof(shown->user), v3.user);
  copy_text(shown->context, sizeof(shown->context), v3.context);
  shown->level = v3.level;
  shown->auth = v3.auth;
  shown->priv = v3.priv;
  shown->auth_passphrase[0] = shown->priv_passphrase[0] = '\0';
  *auth_set = v3.auth_passphrase[0] != '\0';
  *priv_set = v3.priv_passphrase[0] != '\0';
  return true;
}
