#pragma once

// Ids of the main dialog's controls, menu commands and resources.
enum ControlId : int {
    IDOK = 1,
    IDCANCEL = 2,

    IDC_SERVER = 1001,         // server box (drop-down combo box)
    IDC_LOG = 1002,            // log pane
    IDC_GO = 1003,             // "&Go" / "&Stop"
    IDC_VERSION = 1005,        // version label
    IDC_CLEAR_LOG = 1009,      // "&Clear Log"
    IDC_STATUS = 1010,         // status line
    IDC_SET_TIME = 1017,       // "Set System &Time"
    IDC_TIME_SERVER_GROUP = 1021,
    IDC_AUTH = 1022,           // "Auth" (hidden)
    IDC_SNTP = 1023,           // "SNTP" (hidden)
    IDC_PORT123 = 1026,        // "Send from Port &123"
    IDC_NTS = 1027,            // "Secure (&NTS)"
    IDC_CHART = 1030,          // the monitor's chart, over the log pane's lower part

    IDD_MAIN = 102,
    IDR_APP_ICON = 128,
    IDR_MENU = 133,
    IDB_LOGO = 138,
    IDC_LOGO = 138,

    ID_FILE_BENCHMARK = 32771,
    ID_FILE_SCAN_LIST = 32772,
    ID_FILE_LONG_RUN_TEST = 32773,
    ID_FILE_QUIT = 32774,
    ID_FILE_LOOP_TEST = 32777,
    ID_FILE_STRESS_TEST = 32778,
    ID_FILE_JITTER_MONITOR = 32779,
    ID_FILE_SURVEY = 32780,
    ID_FILE_AUDIT = 32781,

    ID_HELP = 57670,
};
