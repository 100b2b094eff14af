#include "Interface.h"

#include "ui_AddWindow.h"
#include "ui_ErrorWindow.h"
#include "ui_HelpWindow.h"
#include "ui_MainWindow.h"

Interface::Interface()
    : main_(std::make_unique<QMainWindow>()), add_(std::make_unique<QDialog>()),
      help_(std::make_unique<QDialog>()), error_(std::make_unique<QDialog>()) {
    Ui::MainWindow().setupUi(main_.get());
    Ui::AddWindow().setupUi(add_.get());
    Ui::HelpWindow().setupUi(help_.get());
    Ui::ErrorWindow().setupUi(error_.get());
}

Interface::~Interface() = default;

QList<QWidget*> Interface::windows() const {
    return {main_.get(), add_.get(), help_.get(), error_.get()};
}
