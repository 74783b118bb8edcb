// The installable-option walk and the PPD defaults rewrite.
#ifndef ZORV_AUTOCONF_INSTALLABLE_H
#define ZORV_AUTOCONF_INSTALLABLE_H

#include <cups/ppd.h>

// The walk over the installable options (probe/ppd_attributes.h: installableGroup) has one
// program-wide state: only one walk is in progress at a time.
ppd_option_t* firstInstallableOption(ppd_file_t* ppd);
ppd_option_t* nextInstallableOption(ppd_file_t* ppd);
ppd_option_t* findInstallableOption(ppd_file_t* ppd, const char* keyword);
// Number of rewritten *Default lines, or -1 on failure.
int rewritePpdDefaults(ppd_file_t* ppd, const char* sourcePath, const char* targetPath);
// The same, with the target named inside an open directory: everything, from the temporary
// file to the rename, happens relative to that descriptor.
int rewritePpdDefaultsAt(ppd_file_t* ppd, const char* sourcePath, int directory, const char* name);

#endif  // ZORV_AUTOCONF_INSTALLABLE_H
