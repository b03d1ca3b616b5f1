#pragma once
// The widgets of the main window TFo_R310, by the names the window's
// handlers and the tests use (each widget's objectName is the same). They
// are built with their captions, items, labels, hints and start states by
// BuildMainWidgets; the window wires their behaviour.
#include <QComboBox>
#include <QString>

#include <array>
#include <functional>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QWidget;

namespace r310::ui {

class ConnectionLamp;
class RadioGroup;

// The port list: runs beforePopup each time it opens, so the window can
// read the system's ports anew (an adapter plugged in after the start).
class PortListBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override;
};

struct HeaderWidgets {
    QFrame *Panel2 = nullptr;
    QLabel *StaticText1 = nullptr;
    QLabel *Image1 = nullptr;
};

struct ControlWidgets {
    QFrame *Panel1 = nullptr;
    ConnectionLamp *Shape1 = nullptr;
    PortListBox *ComPortList = nullptr;
    QPushButton *Button12 = nullptr;         // "&Open Port"
    QPushButton *Button_ClosePort = nullptr; // "&Close Comport"
    QPushButton *Button3 = nullptr;          // "&Exit"
    QPushButton *Button4 = nullptr;          // "Setup"
    QPushButton *ButtonSaveProfile = nullptr;  // "Save profile…"
    QPushButton *ButtonApplyProfile = nullptr; // "Apply profile…"
};

struct StatusWidgets {
    QStatusBar *StatusBar1 = nullptr;
    std::array<QLabel *, 2> panels{}; // 0: connection phase, 1: the current exchange
};

struct GeneralWidgets {
    QWidget *TabSheet1 = nullptr;
    QLineEdit *Edit_DevSn = nullptr;
    QLineEdit *Edit_Sver = nullptr;
    QLineEdit *Edit_BatKap = nullptr;
    QLineEdit *Edit_CostId = nullptr;
    QPushButton *ButtonCostID = nullptr;
    QLineEdit *Edit3 = nullptr; // PC time
    QLineEdit *Edit4 = nullptr; // instrument time
    QPushButton *ButtonTime = nullptr;
};

// One alarm threshold's row: its field and the three option boxes.
struct AlarmRow {
    QLineEdit *edit = nullptr;
    QCheckBox *fallBelow = nullptr; // CheckBox_..U
    QCheckBox *latching = nullptr;  // CheckBox_..S
    QCheckBox *hornOff = nullptr;   // CheckBox_..H
};

struct RangeWidgets {
    QWidget *TabSheet2 = nullptr;
    QLineEdit *Edit_MKTyp = nullptr;
    QLineEdit *Edit_MKSn = nullptr;
    QLineEdit *Edit_MBE = nullptr;
    QLineEdit *Edit_GEGA = nullptr;
    QLineEdit *Edit_NP = nullptr;
    QLineEdit *Edit_FS = nullptr;
    QLineEdit *Edit7 = nullptr; // live value
    std::array<AlarmRow, 5> alarms{}; // A1, A2, A3, STEL, TWA
    QLineEdit *Edit_Cal = nullptr;
    QPushButton *ButtonSetGW = nullptr;
};

struct SignalsWidgets {
    QWidget *TabSheet3 = nullptr;
    RadioGroup *RadioGroup_Bsig = nullptr;
    RadioGroup *RadioGroup_VSig = nullptr;
    RadioGroup *RadioGroup_KSig = nullptr;
    RadioGroup *RadioGroup_Wup = nullptr;
    QLineEdit *Edit_BeepTime = nullptr;
    RadioGroup *RadioGroup_DateFmt = nullptr;
    RadioGroup *RadioGroup_Wakeup = nullptr;
    QCheckBox *CheckBox12h = nullptr;
    QCheckBox *CheckBoxShowTime = nullptr;
    QCheckBox *CheckBoxSek = nullptr;
    QCheckBox *CheckBoxBumpAlarm = nullptr;
    QLineEdit *Edit_DeltaBumpDay = nullptr;
    QLineEdit *EditBumpTests = nullptr;
    QLineEdit *Edit_NextBumpDate = nullptr;
    QLineEdit *Edit_DeltaCalDay = nullptr;
    QLineEdit *Edit_nextCalDate = nullptr;
    QCheckBox *CheckBoxCalAlarm = nullptr; // hidden
    QPushButton *ButtonSetSig = nullptr;
};

struct HardwareWidgets {
    QWidget *TabSheet4 = nullptr;
    QLineEdit *Edit_hwzpt = nullptr;
    QLineEdit *Edit_hwSpan = nullptr;
    QLineEdit *Edit_hwUref = nullptr;
    QCheckBox *CheckBox_KeyServ = nullptr;
    QCheckBox *CheckBoxNoVib = nullptr;
    QCheckBox *CheckBoxonlybat = nullptr;
    QCheckBox *CheckBoxSafety = nullptr;
    QCheckBox *CheckBoxBestRes = nullptr;
    QCheckBox *CheckBoxDspMode = nullptr;
    QPushButton *ButtonHWSet = nullptr;
};

struct CalibrationWidgets {
    QWidget *TabSheet5 = nullptr;
    QLineEdit *Edit5 = nullptr; // calibration gas concentration
    QLineEdit *Edit6 = nullptr; // result
    QPushButton *Button5 = nullptr; // "Start Cal"
    QPushButton *Button6 = nullptr; // "Horn Check"
    QPushButton *Button7 = nullptr; // "Start Zerro"
};

struct SpecialFunctionWidgets {
    QWidget *TabSheet6 = nullptr;
    RadioGroup *Funktion = nullptr;
    QPushButton *Button9 = nullptr; // "Start"
};

struct EventWidgets {
    QWidget *TabSheet7 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit8 = nullptr;
    QLineEdit *Edit9 = nullptr; // "Max Events"
    QPushButton *Button1 = nullptr; // "Read"
    QPushButton *Button2 = nullptr; // "Clear"
};

struct LoggerWidgets {
    QWidget *TabSheet8 = nullptr;
    QLineEdit *Edit10 = nullptr;
    QLineEdit *Edit11 = nullptr;
    QLineEdit *Edit12 = nullptr;
    QLineEdit *Edit13 = nullptr;
    QLineEdit *Edit14 = nullptr;
    QLineEdit *Edit15 = nullptr;
    QLineEdit *Edit16 = nullptr;
    QPushButton *Button8 = nullptr;  // "Read"
    QPushButton *Button10 = nullptr; // "Clear"
    QPushButton *Button11 = nullptr; // "Set Paramet"
    QProgressBar *ProgressBar1 = nullptr;
};

struct MainWidgets {
    HeaderWidgets header;
    ControlWidgets control;
    QTabWidget *PageControl1 = nullptr;
    GeneralWidgets general;
    RangeWidgets range;
    SignalsWidgets signalTab;
    HardwareWidgets hardware;
    CalibrationWidgets calibration;
    SpecialFunctionWidgets special;
    EventWidgets events;
    LoggerWidgets logger;
    StatusWidgets status;
};

// Builds every widget into window (as its central widget and status bar),
// in the start state: "&Open Port" enabled, "&Close Comport", the set buttons
// and the version-gated boxes disabled, "Setup" and "Cal Alarm" hidden, the
// General tab in front.
MainWidgets BuildMainWidgets(QMainWindow &window);

} // namespace r310::ui
