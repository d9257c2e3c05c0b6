// Resource identifiers.
#pragma once

#define IDD_STATUS_DIALOG       102
#define IDD_SECURE_DIALOG       103
#define IDD_ACCOUNTING_DIALOG   108

#define IDB_LOGO                1120
#define IDB_UPPER               1121
#define IDB_UPPER_MASK          1122
#define IDB_LOWER               1123
#define IDB_LOWER_MASK          1124
#define IDB_LOWER_ALT           1127

// Controls of the secure/storage print dialog (103).
#define IDC_SEC_JOBID           1013
#define IDC_SEC_PASSWORD        1014
#define IDC_SEC_REMOVEFILE      1015
#define IDC_SEC_JOBID_LABEL     1053
#define IDC_SEC_JOBID_HELP      1054
#define IDC_SEC_PASSWORD_LABEL  1055
#define IDC_SEC_PASSWORD_HELP   1056
#define IDC_SEC_OK              1057
#define IDC_SEC_NOTE            1058    // empty until the printer refuses the values

// Controls of the accounting dialog (108).
#define IDC_ACT_NAME            1031
#define IDC_ACT_PASSWORD        1032
#define IDC_ACT_NAME_LABEL      1033
#define IDC_ACT_NAME_HELP       1034
#define IDC_ACT_PASSWORD_LABEL  1035
#define IDC_ACT_PASSWORD_HELP   1036
#define IDC_ACT_OK              1038
#define IDC_ACT_NOTE            1039    // empty until the printer refuses the values
