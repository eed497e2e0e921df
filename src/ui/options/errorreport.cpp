// The log file viewer: the listing of the log folder and the text of a clicked file.

#include "errorreport.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTextStream>

#include "ddm_log.h"
#include "languagesetting.h"
#include "ui_errorreport.h"
#include "uicontext.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

// Paths longer than this many bytes in the local encoding are not opened.
constexpr int kPathMax = 1024;
constexpr int kRowHeight = 30;
constexpr int kColumnCount = 4;
const char kDescriptionFile[] = "error_detail.txt";

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(QLatin1String(key)); }

void SetCell(QTableWidget* table, int row, int column, const QString& text, Qt::Alignment align) {
    table->setItem(row, column, new QTableWidgetItem(text));
    table->item(row, column)->setTextAlignment(static_cast<int>(align));
}

}  // namespace

ErrorReport::ErrorReport(QWidget* parent) : basewidget(parent), ui(new Ui_ErrorReport) {
    ui->setupUi(this);
}

ErrorReport::~ErrorReport() { delete ui; }

void ErrorReport::InitWidget() {
    basewidget::InitWidget();
    setFixedSize(width(), height());
    ui->l_Path->installEventFilter(this);
    ui->l_Detail->installEventFilter(this);
    QTableWidget* table = ui->tw_error;
    table->clear();
    ui->plainTextEdit->setFocusPolicy(Qt::ClickFocus);

    table->setHorizontalHeaderLabels(QStringList{
        Text("/UI_ERRORREPORT/UI_ERRORREPORT_FILENAME"),
        Text("/UI_ERRORREPORT/UI_ERRORREPORT_FILEDETAILE"),
        Text("/UI_ERRORREPORT/UI_ERRORREPORT_FILETYPEE"),
        Text("/UI_ERRORREPORT/UI_ERRORREPORT_FILESIZEE")});
    table->horizontalHeader()->setFixedHeight(kRowHeight);
    table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    for (int column = 0; column < kColumnCount; ++column) {
        QTableWidgetItem* header = table->horizontalHeaderItem(column);
        header->setFont(QFont(QStringLiteral("Microsoft YaHei"), header->font().pointSize(), 50, false));
    }
    // Sizes read best right-aligned, like numbers everywhere else.
    table->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft);
    table->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignLeft);
    table->horizontalHeaderItem(2)->setTextAlignment(Qt::AlignLeft);
    table->horizontalHeaderItem(3)->setTextAlignment(Qt::AlignRight);

    table->setColumnCount(kColumnCount);
    // Not laid out yet: the table has its minimum width, and the stretching last section
    // takes what the shown dialog adds.
    for (int column = 0; column < kColumnCount; ++column) {
        table->setColumnWidth(column, table->width() / kColumnCount);
    }
    // Rows are one line high: a name that does not fit is cut with an ellipsis, never
    // broken at a hyphen into a second line the row cannot show.
    table->setWordWrap(false);
    QHeaderView* header = table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setFocusPolicy(Qt::NoFocus);
    table->verticalHeader()->setHidden(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setFrameShape(QFrame::NoFrame);
    table->setShowGrid(false);
    table->setFocusPolicy(Qt::NoFocus);

    setWindowTitle(Text("/UI_ERRORREPORT/UI_ERRORREPORT_TITLE"));
    ui->label->setText(Text("/UI_ERRORREPORT/UI_ERRORREPORT_PATH"));
    ui->label_2->setText(Text("/UI_ERRORREPORT/UI_ERRORREPORT_DETAILE"));

    // Every system type keeps the report's files in the one per-user log folder.
    const QStringList folders{QDir::homePath() + QStringLiteral("/.VanTrelo/log")};
    for (int i = 0; i < folders.size(); ++i) {
        Util_WriteLog(0, DDM_LOG_DEBUG, QStringLiteral("[Initialize  error report][ dir list ") +
                                            QString::number(i) + QLatin1Char(':') + folders[i] +
                                            QLatin1Char(']'));
    }
    QStringList found;
    if (!Util_GetFileList(folders, QStringList(), found)) {
        const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
        QMessageBox box(QMessageBox::Warning, global.WARNING,
                        Text("/UI_ERRORREPORT/UI_ERRORREPORT_ERRORREPORT_FILE_PATH_INVAILD"),
                        QMessageBox::NoButton, this,
                        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        box.addButton(global.OK, QMessageBox::AcceptRole);
        box.exec();
        return;
    }

    // The description is the user's own text, sent with the report but not shown as one
    // of the collected files.
    QStringList paths;
    for (const QString& path : found) {
        const QString name = QFileInfo(path).fileName();
        if (!name.isEmpty() && name != QLatin1String(kDescriptionFile)) {
            paths << path;
        }
    }
    table->setRowCount(paths.size());
    for (int row = 0; row < paths.size(); ++row) {
        const QString& path = paths[row];
        const QFileInfo info(path);
        SetCell(table, row, 0, info.fileName(), Qt::AlignLeft);
        SetCell(table, row, 1, QString(), Qt::AlignLeft);
        SetCell(table, row, 2, GetFileTypeText(info.completeSuffix()), Qt::AlignLeft);
        SetCell(table, row, 3, QString::number(info.size()) + QLatin1Char('B'), Qt::AlignRight);
        Util_WriteLog(0, DDM_LOG_DEBUG,
                      "[Initialize  error report][file name item set data is " + path + "]");
        table->item(row, 0)->setData(Qt::UserRole, path);
    }
    connect(table, SIGNAL(itemClicked(QTableWidgetItem*)), this, SLOT(ItemChangedSlot()));
}

QString ErrorReport::GetFileTypeText(QString suffix) {
    static const struct {
        const char* suffix;
        const char* key;
    } kTypes[] = {
        {"txt", "/UI_ERRORREPORT/UI_ERRORREPORT_TXT_TYPE"},
        {"xml", "/UI_ERRORREPORT/UI_ERRORREPORT_XML_TYPE"},
        {"dmp", "/UI_ERRORREPORT/UI_ERRORREPORT_DMP_TYPE"},
        {"core", "/UI_ERRORREPORT/UI_ERRORREPORT_DMP_TYPE"},
        {"log", "/UI_ERRORREPORT/UI_ERRORREPORT_LOG_TYPE"},
    };
    for (const auto& type : kTypes) {
        if (suffix == QLatin1String(type.suffix)) {
            return Text(type.key);
        }
    }
    return QString();
}

void ErrorReport::ItemChangedSlot() {
    ui->plainTextEdit->clear();
    QTableWidget* table = ui->tw_error;
    const int row = table->currentRow();
    const QTableWidgetItem* nameItem = table->item(row, 0);
    if (nameItem == nullptr) {
        return;
    }
    const QString path = nameItem->data(Qt::UserRole).toString();
    if (path.toLocal8Bit().size() > kPathMax) {
        return;
    }
    const QTableWidgetItem* detailItem = table->item(row, 1);
    if (detailItem == nullptr) {
        return;
    }
    ui->l_Path->setText(path);
    ui->l_Detail->setText(detailItem->text());
    const QTableWidgetItem* typeItem = table->item(row, 2);
    if (typeItem == nullptr) {
        return;
    }
    // A dump is binary and may hold anything the process had in memory: it goes into the
    // report, but is never shown as text.
    if (typeItem->text() == Text("/UI_ERRORREPORT/UI_ERRORREPORT_DMP_TYPE")) {
        Util_ShowWarning(Text("UI_ERRORREPORT/UI_ERRORREPORT_DUMP_FORBID"), QString(), -1);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return;
    }
    // Every line ends with one line feed, whatever ended it in the file. The lines are
    // gathered and inserted at once: inserting them one by one gives the same document
    // but relays the editor's text out for every line, which makes a full log file slow.
    QTextStream in(&file);
    QString text;
    text.reserve(static_cast<int>(qMin<qint64>(file.size(), 64 * 1024 * 1024)));
    while (!in.atEnd()) {
        text += in.readLine();
        text += QLatin1Char('\n');
    }
    ui->plainTextEdit->insertPlainText(text);
    file.close();
}

bool ErrorReport::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->l_Path && event->type() == QEvent::Enter) {
        ui->l_Path->setToolTip(ui->l_Path->text());
        return true;
    }
    if (watched == ui->l_Detail && event->type() == QEvent::Enter) {
        ui->l_Detail->setToolTip(ui->l_Detail->text());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
