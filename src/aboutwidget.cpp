#include "aboutwidget.h"
#include "ui_aboutwidget.h"

#include <QCoreApplication>

namespace {

// The short notice of the program's licence, GPL-3.0-or-later (full text in LICENSE).
QString licenceNotice()
{
    return QCoreApplication::translate(
        "AboutWidget",
        "Copyright (C) 2026 the Kestrova developers\n"
        "\n"
        "This program is free software: you can redistribute it and/or modify it "
        "under the terms of the GNU General Public License as published by the "
        "Free Software Foundation, either version 3 of the License, or (at your "
        "option) any later version.\n"
        "\n"
        "This program is distributed in the hope that it will be useful, but "
        "WITHOUT ANY WARRANTY; without even the implied warranty of "
        "MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE. See the GNU "
        "General Public License (the file LICENSE) for more details.\n"
        "\n"
        "You should have received a copy of the GNU General Public License along "
        "with this program. If not, see <https://www.gnu.org/licenses/>.");
}

} // namespace

AboutWidget::AboutWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::AboutWidget)
{
    ui->setupUi(this);

    // Program name, then version, as one level-1 heading.
    const QString title = tr("<h1>%1 &nbsp; %2</h1>")
                              .arg(tr("Kestrova"), 0, QLatin1Char(' '))
                              .arg(tr("0.1a"), 0, QLatin1Char(' '));
    const QString heading = tr("<p><b>%1</b></p>").arg(tr("FT232R EEPROM programmer"));
    const QString contact =
        tr("<p>%1</p>").arg(tr("The Kestrova project.<br>Report problems on its issue tracker."));

    ui->TitleLE->setText(title);
    ui->copyrightLE->setText(heading);
    ui->NameLE->setText(contact);
    ui->copyrighttextTE->setPlainText(licenceNotice());
}

AboutWidget::~AboutWidget()
{
    delete ui;
}
