// Resource, control and menu ids of Corvane.exe: one list for the .rc, the shell and its tests.
// Plain #defines, since the resource compiler reads this file too.
#pragma once

#define IDI_APP_ICON 101

#define IDC_TAB 1000

#define IDC_UDP_IP 1010
#define IDC_UDP_PORT 1011
#define IDC_UDP_ENABLE 1014

#define IDC_START_MINIMIZED 1030
#define IDC_START_WITH_WINDOWS 1031
#define IDC_TEST_MODE 1032

#define IDC_SAVE 1040
#define IDC_EXIT 1041

#define IDC_VLM_ENABLE 1050
#define IDC_VLM_ID 1051
#define IDC_VLM_KEY 1052
#define IDC_VLM_SHOW_KEY 1053
#define IDC_VLM_INTERVAL 1054

#define IDC_WP_ENABLE 1060
#define IDC_WP_URL 1061
#define IDC_WP_ID 1062
#define IDC_WP_KEY 1063
#define IDC_WP_SHOW_KEY 1064
#define IDC_WP_INTERVAL 1065

#define IDC_HRD_ENABLE 1070
#define IDC_HRD_HOST 1071
#define IDC_HRD_PORT 1072
#define IDC_HRD_INTERVAL 1073
#define IDC_HRD_MYCALL 1074
#define IDC_HRD_OPERATOR 1075

#define IDC_RIGCTLD_ENABLE 1080
#define IDC_RIGCTLD_HOST 1081
#define IDC_RIGCTLD_PORT 1082
#define IDC_RIGCTLD_INTERVAL 1083
#define IDC_RIGCTLD_MYCALL 1084
#define IDC_RIGCTLD_OPERATOR 1085

#define IDM_TRAY_RESTORE 2001
#define IDM_TRAY_EXIT 2002
