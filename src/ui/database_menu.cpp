#include "ui/database_menu.h"

#include <QAction>
#include <QApplication>

#include "ui/engine_dialog.h"

namespace sono::ui {

void AddDatabaseEntries(MainWindow& window, data::DatabaseTools& tools, Prompt& prompt) {
  QMenu* menu = window.menu(MenuId::Tools);
  QAction* check = menu->addAction(QString::fromUtf8("&Vérifier la base"));
  check->setObjectName("MnuVerifierBase");
  QObject::connect(check, &QAction::triggered, &window, [&tools, &prompt] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool whole = true;
    const std::string report = tools.VerifierBase(whole);
    QApplication::restoreOverrideCursor();
    prompt.message(report, whole ? Icon::Information : Icon::Exclamation, Buttons::Ok, "Vérifier la base");
  });
  QAction* repair = menu->addAction(QString::fromUtf8("&Réparer les fichiers endommagés"));
  repair->setObjectName("MnuReparerBase");
  QObject::connect(repair, &QAction::triggered, &window, [&window, &tools, &prompt] {
    if (prompt.message("Les fichiers endommagés de la base vont être reconstruits à partir de leurs "
                       "enregistrements lisibles; chaque fichier endommagé est gardé à côté, daté.\n\n"
                       "Sonoteka doit être fermé sur les autres postes. Continuer ?",
                       Icon::Question, Buttons::YesNo, "Réparer les fichiers endommagés") != Answer::Yes)
      return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool repaired = true;
    const std::string report = tools.ReparerFichiersEndommages(repaired);
    QApplication::restoreOverrideCursor();
    prompt.message(report, repaired ? Icon::Information : Icon::Exclamation, Buttons::Ok,
                   "Réparer les fichiers endommagés");
    window.InitGeneralTVCategories();
  });
  QAction* engine = menu->addAction(QString::fromUtf8("Moteur de la &base…"));
  engine->setObjectName("MnuMoteurBase");
  QObject::connect(engine, &QAction::triggered, &window, [&window, &tools, &prompt] {
    data::EngineSettingForm form(tools.config(), tools.log());
    EngineDialog dialog(form, prompt, &window);
    dialog.exec();
  });
}

}  // namespace sono::ui
