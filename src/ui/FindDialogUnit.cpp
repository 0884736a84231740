#include "ui/FindDialogUnit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orbel {

TFindDialog::TFindDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("FindDialog"));
  setWindowTitle(QStringLiteral("Find"));
  setModal(false);

  auto* label = new QLabel(QStringLiteral("Fi&nd what:"), this);
  edtFindText_ = new QLineEdit(this);
  edtFindText_->setObjectName(QStringLiteral("edtFindText"));
  edtFindText_->setMinimumWidth(200);
  label->setBuddy(edtFindText_);
  chkWholeWord_ = new QCheckBox(QStringLiteral("Match &whole word only"), this);
  chkWholeWord_->setObjectName(QStringLiteral("chkWholeWord"));
  chkMatchCase_ = new QCheckBox(QStringLiteral("Match &case"), this);
  chkMatchCase_->setObjectName(QStringLiteral("chkMatchCase"));
  btnFindNext_ = new QPushButton(QStringLiteral("&Find Next"), this);
  btnFindNext_->setObjectName(QStringLiteral("btnFindNext"));
  btnFindNext_->setDefault(true);
  btnFindNext_->setEnabled(false);
  btnCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel_->setObjectName(QStringLiteral("btnCancel"));
  btnHelp_ = new QPushButton(QStringLiteral("&Help"), this);
  btnHelp_->setObjectName(QStringLiteral("btnHelp"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addWidget(edtFindText_, 0, 1);
  auto* options = new QVBoxLayout;
  options->addWidget(chkWholeWord_);
  options->addWidget(chkMatchCase_);
  options->addStretch(1);
  grid->addLayout(options, 1, 0, 2, 2);
  grid->addWidget(btnFindNext_, 0, 2);
  grid->addWidget(btnCancel_, 1, 2);
  grid->addWidget(btnHelp_, 2, 2);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  connect(edtFindText_, &QLineEdit::textChanged, this,
          [this](const QString& text) { btnFindNext_->setEnabled(!text.isEmpty()); });
  connect(btnFindNext_, &QPushButton::clicked, this, [this] {
    if (onFind && !FindText().isEmpty()) onFind();
  });
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::close);
  connect(btnHelp_, &QPushButton::clicked, this, [this] {
    if (onHelp) onHelp();
  });
}

QString TFindDialog::FindText() const { return edtFindText_->text(); }

void TFindDialog::SetFindText(const QString& text) { edtFindText_->setText(text); }

bool TFindDialog::MatchCase() const { return chkMatchCase_->isChecked(); }

bool TFindDialog::WholeWord() const { return chkWholeWord_->isChecked(); }

}  // namespace orbel
