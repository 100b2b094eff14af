// The windows of the application, built from their Qt Designer descriptions. Each element keeps
// its description's object name, by which the controller binds it.
#pragma once

#include <QList>
#include <memory>

class QDialog;
class QMainWindow;
class QWidget;

class Interface {
  public:
    Interface();
    ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    QMainWindow* mainWindow() const { return main_.get(); }
    QDialog* addWindow() const { return add_.get(); }
    QDialog* helpWindow() const { return help_.get(); }
    QDialog* errorWindow() const { return error_.get(); }
    QList<QWidget*> windows() const;

  private:
    std::unique_ptr<QMainWindow> main_;
    std::unique_ptr<QDialog> add_;
    std::unique_ptr<QDialog> help_;
    std::unique_ptr<QDialog> error_;
};
