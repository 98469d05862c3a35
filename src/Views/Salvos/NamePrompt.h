#pragma once

#include "Theme/Theme.h"
#include "Views/Salvos/SalvoViews.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

// A window-modal prompt for a name: heading, optional message, "Name" field, Cancel and Save.
class NamePrompt final : public QDialog
{
public:
    NamePrompt(const QString &title, const QString &message, const QString &name, QWidget *parent)
        : QDialog(parent)
    {
        setWindowTitle(title);
        setWindowModality(Qt::WindowModal);
        setAttribute(Qt::WA_DeleteOnClose);
        setFixedWidth(360);

        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(20, 18, 20, 16);
        column->setSpacing(10);
        column->addWidget(
            SalvoViews::textLabel(title, Theme::font(Theme::TextStyle::headline, QFont::DemiBold)));
        if (!message.isEmpty()) {
            QLabel *text
                = SalvoViews::wrappedLabel(message, Theme::font(Theme::TextStyle::callout));
            text->setObjectName(QStringLiteral("promptMessage"));
            column->addWidget(text);
        }
        m_field = new QLineEdit(name);
        m_field->setObjectName(QStringLiteral("nameField"));
        m_field->setPlaceholderText(QStringLiteral("Name"));
        m_field->setAccessibleName(QStringLiteral("Name"));
        m_field->selectAll();
        column->addWidget(m_field);

        auto *buttons = new QHBoxLayout;
        buttons->setSpacing(8);
        buttons->addStretch();
        auto *cancel = new QPushButton(QStringLiteral("Cancel"));
        cancel->setObjectName(QStringLiteral("cancelButton"));
        cancel->setAutoDefault(false);
        cancel->setMinimumWidth(80);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        buttons->addWidget(cancel);
        auto *save = new QPushButton(QStringLiteral("Save"));
        save->setObjectName(QStringLiteral("saveButton"));
        save->setDefault(true);
        save->setMinimumWidth(80);
        connect(save, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(save);
        column->addLayout(buttons);
        m_field->setFocus();
    }

    QString text() const { return m_field->text(); }

private:
    QLineEdit *m_field = nullptr;
};
