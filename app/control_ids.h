#pragma once
// Resource, control and menu ids of the main window.

constexpr int IDI_APP_ICON = 101;

constexpr int IDC_TAB = 1000;

constexpr int IDC_UDP_IP = 1010;
constexpr int IDC_UDP_PORT = 1011;
constexpr int IDC_UDP_ENABLE = 1014;

constexpr int IDC_START_MINIMIZED = 1030;
constexpr int IDC_START_WITH_WINDOWS = 1031;
constexpr int IDC_TEST_MODE = 1032;

constexpr int IDC_SAVE = 1040;
constexpr int IDC_EXIT = 1041;

constexpr int IDC_VLM_ENABLE = 1050;
constexpr int IDC_VLM_ID = 1051;
constexpr int IDC_VLM_KEY = 1052;
constexpr int IDC_VLM_SHOW_KEY = 1053;
constexpr int IDC_VLM_INTERVAL = 1054;

constexpr int IDC_WP_ENABLE = 1060;
constexpr int IDC_WP_URL = 1061;
constexpr int IDC_WP_ID = 1062;
constexpr int IDC_WP_KEY = 1063;
constexpr int IDC_WP_SHOW_KEY = 1064;
constexpr int IDC_WP_INTERVAL = 1065;

constexpr int IDC_HRD_ENABLE = 1070;
constexpr int IDC_HRD_HOST = 1071;
constexpr int IDC_HRD_PORT = 1072;
constexpr int IDC_HRD_INTERVAL = 1073;
constexpr int IDC_HRD_MYCALL = 1074;
constexpr int IDC_HRD_OPERATOR = 1075;

constexpr int IDM_TRAY_RESTORE = 2001;
constexpr int IDM_TRAY_EXIT = 2002;
