#pragma once
// String-table entries; the numbers are part of the program's interface.
#define IDS_MACRO_PACKAGERRESDIR     2
#define IDS_MACRO_PROGDIR            5
#define IDS_MACRO_WINDIR             6
#define IDS_MACRO_SYSDIR             7
#define IDS_PRODUCT_HOST             8
#define IDS_PRODUCT_FULL             9
#define IDS_PRODUCT_REMOTE           10
#define IDS_PRODUCT_HOSTLAN          11
#define IDS_OS_WINDOWS9X             13
#define IDS_OS_WINNT40               14
#define IDS_OS_WINNT351              15
#define IDS_UPDATE_CAPTION           17
#define IDS_VALUE_INSTALLDIR         20
#define IDS_NOT_INSTALLED            21
#define IDS_MANIFEST_NAME            23
#define IDS_KEY_SYSTEM               24
#define IDS_VALUE_INSTALLED          25
#define IDS_PATH_SEPARATOR           30
#define IDS_MACRO_TWDIR              40
#define IDS_MACRO_VELDIR             41
#define IDS_MACRO_DRVDIR             44
#define IDS_OS_WIN2000               77
#define IDS_RESTART_CAPTION          86
#define IDS_MACRO_CMSDIR             91
#define IDS_MACRO_DATADIR            92
#define IDS_RESTART_QUESTION         97
#define IDS_WRONG_VERSION            100
#define IDS_MACRO_VELSHARED          101
#define IDS_MACRO_MERGEMODULESDIR    107
#define IDS_MACRO_MERGEMODULESENGDIR 108
#define IDS_OS_WINDOWSXP             109

// Progress dialog.
#define IDD_PROGRESS                 129
#define IDC_PROGRESS_BAR             1003
#define IDC_STATIC                   (-1)
