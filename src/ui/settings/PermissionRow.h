#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace velnote {

// One permission of the preferences window: icon, title, explanation, "Granted" in green or
// "Not Granted" in red, and an "Open Settings" button. Main thread only.
class PermissionRow : public QWidget {
  public:
    PermissionRow(const QString& iconName, const std::string& title, const std::string& subtitle,
                  std::function<void()> action, QWidget* parent = nullptr);

    void setGranted(bool granted);

    QLabel* status() const { return status_; }
    QPushButton* button() const { return button_; }

  private:
    QLabel* icon_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* button_ = nullptr;
    QString iconName_;
};

} // namespace velnote
