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
