#include "ui/engine_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sono::ui {

EngineDialog::EngineDialog(data::EngineSettingForm& form, Prompt& prompt, QWidget* parent)
    : QDialog(parent), form_(form), prompt_(prompt) {
  setObjectName("FrmMoteurBase");
  setWindowTitle(QString::fromUtf8("Moteur de la base « ") + QString::fromStdString(form.baseName()) + "»");
  engine_ = new QComboBox(this);
  engine_->setObjectName("CmbMoteur");
  engine_->addItem(data::EngineName(btr::EngineKind::Lmdb));
  engine_->addItem(data::EngineName(btr::EngineKind::Postgres));
  engine_->setCurrentIndex(form.setting.kind == btr::EngineKind::Postgres ? 1 : 0);
  connection_ = new QLineEdit(QString::fromStdString(form.setting.connection), this);
  connection_->setObjectName("TxtConnexion");
  connection_->setPlaceholderText("host=serveur dbname=radio user=studio");
  passwordFile_ = new QLineEdit(QString::fromStdString(form.setting.passwordFile), this);
  passwordFile_->setObjectName("TxtFichierMotDePasse");
  passwordFile_->setPlaceholderText("~/.pgpass");
  test_ = new QPushButton(QString::fromUtf8("&Tester la connexion"), this);
  test_->setObjectName("BtnTesterConnexion");
  result_ = new QLabel(this);
  result_->setObjectName("LblResultat");
  result_->setWordWrap(true);

  auto* fields = new QFormLayout;
  fields->addRow(QString::fromUtf8("&Moteur:"), engine_);
  fields->addRow(QString::fromUtf8("&Connexion PostgreSQL:"), connection_);
  fields->addRow(QString::fromUtf8("&Fichier du mot de passe:"), passwordFile_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(test_);
  layout->addWidget(result_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &EngineDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &EngineDialog::reject);
  connect(test_, &QPushButton::clicked, this, [this] {
    toForm();
    bool ok = false;
    result_->setText(QString::fromStdString(form_.Tester(ok)));
  });
}

void EngineDialog::toForm() {
  form_.setting.kind = engine_->currentIndex() == 1 ? btr::EngineKind::Postgres : btr::EngineKind::Lmdb;
  form_.setting.connection = connection_->text().toStdString();
  form_.setting.passwordFile = passwordFile_->text().toStdString();
}

void EngineDialog::accept() {
  toForm();
  std::string message;
  const bool saved = form_.Enregistrer(message);
  prompt_.message(message, saved ? Icon::Information : Icon::Exclamation, Buttons::Ok, "Moteur de la base");
  if (saved) QDialog::accept();
}

}  // namespace sono::ui
