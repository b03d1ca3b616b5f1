#pragma once
// The Special Function tab: "Start" sends the service function selected in
// "Function" (none selected: a message says to choose one); "Reset" and
// "Default" only after the user said yes to what they do. "Update" puts the instrument into its
// update mode; once it took the request the window closes the port, as
// "&Close Comport" does.
#include <ServiceFunction.h>

#include <QObject>

#include <memory>

namespace r310::ui {

class TFo_R310;

class ServiceFunctionTab : public QObject {
    Q_OBJECT
public:
    explicit ServiceFunctionTab(TFo_R310 &window);

    void Button9Click(); // "Start"

private:
    void Send(ServiceCode code);

    TFo_R310 &window_;
    // The question before "Reset" or "Default" is open.
    bool confirming_ = false;
};

} // namespace r310::ui
