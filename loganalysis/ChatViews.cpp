// TEMPORARY stand-in until the parser's views land on main; replaced on merge.
#include "loganalysis/ChatViews.h"

#include "app/AppContext.h"
#include "app/FileIo.h"

#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velth {

ChatViews::ChatViews(AppContext& context, QTabWidget* tabs, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_tabs(tabs)
{
    auto* global = new QWidget;
    global->setObjectName(QStringLiteral("GlobalTab"));
    auto* layout = new QVBoxLayout(global);
    MapLabel = new QLabel(QStringLiteral("Map:"), global);
    TimeLabel = new QLabel(QStringLiteral("Time:"), global);
    CTView = new QTreeWidget(global);
    TView = new QTreeWidget(global);
    CTScore = new QLabel(QStringLiteral("0 wins"), global);
    TScore = new QLabel(QStringLiteral("0 wins"), global);
    ServerSettings = new QTreeWidget(global);
    for (QWidget* w :
        std::initializer_list<QWidget*>{ MapLabel, TimeLabel, CTView, CTScore, TView, TScore, ServerSettings })
        layout->addWidget(w);
    tabs->addTab(global, QStringLiteral("Global info"));
    const auto chat = [&](QTextEdit*& edit, const char* tab, const char* name, const QString& caption) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(tab));
        edit = new QTextEdit(page);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setReadOnly(true);
        (new QVBoxLayout(page))->addWidget(edit);
        tabs->addTab(page, caption);
    };
    chat(PublicChat, "PublicChatTab", "PublicChat", QStringLiteral("Public Chat"));
    chat(TChat, "TChatTab", "TChat", QStringLiteral("T Chat"));
    chat(CTChat, "CTChatTab", "CTChat", QStringLiteral("CT Chat"));
}

void ChatViews::ScanLog(const QString& fileName)
{
    m_context.setStatus(QStringLiteral("Scanning: ") + fileName + u'.');
    QString name = fileName;
    if (!name.endsWith(QStringLiteral(".log"), Qt::CaseInsensitive))
        name += QStringLiteral(".log");
    readFile(m_context.logsFolder() + "/" + QFile::encodeName(name).toStdString());
    m_context.setStatus(QStringLiteral("Finished scanning ") + fileName + u'.');
    m_tabs->setCurrentIndex(2);
}

} // namespace velth
