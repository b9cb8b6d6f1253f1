#pragma once
// The short form before the settings report: the object, the feeder, the unit's serial number
// and the tester, printed in the report's header. What was typed last is offered again; it is
// kept in QvoKsb.ini, section "SettingsReport", and every field may stay empty.
#include "core/settings/settings_report.h"

#include <QDialog>

class QLineEdit;

class ReportForm : public QDialog
{
    Q_OBJECT
public:
    explicit ReportForm(QWidget *parent = nullptr);

    // The fields as typed.
    qvoksb::report::Labels labels() const;
    // Asks; true with the fields kept when the user pressed "OK".
    bool ask();

    // The fields kept in QvoKsb.ini (empty when there are none).
    static qvoksb::report::Labels stored();
    static bool store(const qvoksb::report::Labels &labels, QString *problem = nullptr);

    QLineEdit *ObjectEdit;
    QLineEdit *FeederEdit;
    QLineEdit *SerialEdit;
    QLineEdit *TesterEdit;
};
