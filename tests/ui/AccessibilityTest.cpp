// What a screen reader reads of the window and where the keyboard goes:
// the accessibility tree of every page as QAccessible gives it, the focus
// on each page and state, and the focus ring from rendered pixels.
#include "ui/Accessibility.h"

#include "server/Store.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/PreviousReceiptsDialog.h"
#include "ui/TfrmAjuda.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include <vector>

using namespace vek;
using vek::test::child;

namespace {

// Every accessibility event the window sends, while a test records them.
struct Evento
{
    QPointer<QObject> objeto;
    QAccessible::Event tipo;
    QAccessible::Role papel;  // of an event about an item that is no object
};
std::vector<Evento>* gravados = nullptr;

void gravar(QAccessibleEvent* evento)
{
    if (gravados != nullptr) {
        QAccessible::Role papel = QAccessible::NoRole;
        if (evento->object() == nullptr && evento->accessibleInterface() != nullptr) {
            papel = evento->accessibleInterface()->role();
        }
        gravados->push_back({evento->object(), evento->type(), papel});
    }
}

// The interfaces of the tree under `raiz`, depth first.
void percorrer(QAccessibleInterface* raiz, std::vector<QAccessibleInterface*>& out, int profundidade = 0)
{
    if (raiz == nullptr || profundidade > 40) {
        return;
    }
    out.push_back(raiz);
    // Tables list their cells as children: their headers and cells are checked apart.
    if (raiz->role() == QAccessible::Table || raiz->role() == QAccessible::Tree || raiz->role() == QAccessible::List) {
        return;
    }
    for (int i = 0; i < raiz->childCount(); ++i) {
        percorrer(raiz->child(i), out, profundidade + 1);
    }
}

QString objectName(QAccessibleInterface* iface)
{
    return iface->object() != nullptr ? iface->object()->objectName() : QString();
}

// Controls that a screen reader has to be able to name.
bool precisaDeNome(QAccessibleInterface* iface)
{
    switch (iface->role()) {
    case QAccessible::PushButton:
    case QAccessible::RadioButton:
    case QAccessible::CheckBox:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::ProgressBar:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::List:
    case QAccessible::Link:
        return true;
    case QAccessible::Graphic:
        return objectName(iface).startsWith("img") && !objectName(iface).startsWith("imgTitulo") &&
               !objectName(iface).startsWith("imgLinha") && !objectName(iface).startsWith("imgMarca");
    default:
        return false;
    }
}

QStringList semNome(QWidget* janela)
{
    std::vector<QAccessibleInterface*> todos;
    percorrer(QAccessible::queryAccessibleInterface(janela), todos);
    QStringList out;
    for (QAccessibleInterface* iface : todos) {
        if (precisaDeNome(iface) && iface->text(QAccessible::Name).trimmed().isEmpty()) {
            out << QString("%1 (role %2)").arg(objectName(iface)).arg(int(iface->role()));
        }
    }
    return out;
}

QAccessibleInterface* de(QObject* objeto)
{
    return QAccessible::queryAccessibleInterface(objeto);
}

// Where the focus ring should be: the band of pixels just outside the
// control, where the parent shows them.
std::vector<QPoint> faixaEmVolta(QWidget* janela, QWidget* controle, int distancia)
{
    const QRect r(controle->mapTo(janela, QPoint(0, 0)), controle->size());
    const QWidget* pai = controle->parentWidget();
    const QRect visivel(pai->mapTo(janela, QPoint(0, 0)), pai->size());
    const QRect anel = r.adjusted(-distancia, -distancia, distancia, distancia);
    std::vector<QPoint> out;
    for (int x = anel.left(); x <= anel.right(); ++x) {
        for (const int y : {anel.top(), anel.bottom()}) {
            out.emplace_back(x, y);
        }
    }
    for (int y = anel.top() + 1; y < anel.bottom(); ++y) {
        for (const int x : {anel.left(), anel.right()}) {
            out.emplace_back(x, y);
        }
    }
    std::erase_if(out, [&](const QPoint& p) { return !visivel.contains(p) || !janela->rect().contains(p); });
    return out;
}

// What is wrong with the focus ring of each control of `janela` that takes
// the focus: all around the control, at least one of the three pixels just
// outside it changes with 3:1 contrast or more from how it is drawn
// without the focus.
QStringList falhasDoAnel(QWidget* janela)
{
    std::vector<QWidget*> controles;
    for (QWidget* w : janela->findChildren<QWidget*>()) {
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) != 0 && !w->isWindow() &&
            w->focusProxy() == nullptr && !w->objectName().startsWith("qt_")) {
            controles.push_back(w);
        }
    }
    QStringList falhas;
    if (controles.size() < 3) {
        falhas << QString("only %1 controls take the focus").arg(controles.size());
    }
    for (QWidget* controle : controles) {
        // Until the window holds no focus (an activation may give it back once).
        for (int i = 0; i < 5 && QApplication::focusWidget() != nullptr; ++i) {
            QApplication::focusWidget()->clearFocus();
            QCoreApplication::processEvents();
        }
        const QImage sem = janela->grab().toImage();
        controle->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        if (QApplication::focusWidget() != controle) {
            falhas << controle->objectName() + ": takes no focus";
            continue;
        }
        const QImage com = janela->grab().toImage();
        const QRect r(controle->mapTo(janela, QPoint(0, 0)), controle->size());
        const QWidget* pai = controle->parentWidget();
        const QRect visivel = QRect(pai->mapTo(janela, QPoint(0, 0)), pai->size()).intersected(janela->rect());
        const auto muda = [&](const QPoint& p) {
            return visivel.contains(p) && ui::acessibilidade::contraste(sem.pixelColor(p), com.pixelColor(p)) >= 3.0;
        };
        int fracos = 0;
        int pontos = 0;
        const auto faixa = faixaEmVolta(janela, controle, 1);
        for (const QPoint& p : faixa) {
            // Outwards from the control.
            const QPoint passo(p.x() < r.left()    ? -1
                               : p.x() > r.right() ? 1
                                                   : 0,
                               p.y() < r.top()      ? -1
                               : p.y() > r.bottom() ? 1
                                                    : 0);
            ++pontos;
            if (!muda(p) && !muda(p + passo) && !muda(p + 2 * passo)) {
                ++fracos;
            }
        }
        if (pontos == 0 || fracos > 0) {
            falhas << QString("%1: %2 of %3 points around it without a 3:1 change")
                          .arg(controle->objectName())
                          .arg(fracos)
                          .arg(pontos);
        }
    }
    return falhas;
}

constexpr int Ajuda = -1;
constexpr int Recibos = -2;

}  // namespace

class AccessibilityTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    std::vector<Evento> eventos_;

    void openActiveWindow()
    {
        openWindow();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void enterPage(ui::Pagina pagina)
    {
        switch (pagina) {
        case ui::pgCopiarArq:
            window_->carregarLista(test::testData("dataset/lista.xml").string());
            break;
        case ui::pgHistoricoTransmissoes:
            window_->carregarHistorico(test::testData("dataset/historico.xml").string());
            break;
        default:
            break;
        }
        window_->irPara(pagina);
    }

    void uploadFile(const QString& senha)
    {
        openActiveWindow();
        logIn(senha);
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        auto* tipos = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
        tipos->setCurrentIndex(tipos->findText("XYZ", Qt::MatchStartsWith));
        const auto arquivo = sandbox_->base() / "arquivos" / "lote.xyz";
        std::filesystem::create_directories(arquivo.parent_path());
        test::writeFile(arquivo, "primeiro lote");
        child<QLineEdit>(window_.get(), "txtArqEnviado")->setText(QString::fromStdString(arquivo.string()));
        QTest::mouseClick(window_->botao(ui::Botao::Concluir), Qt::LeftButton);
    }

    bool recebeuEvento(const char* nome, QAccessible::Event tipo) const
    {
        return std::any_of(eventos_.begin(), eventos_.end(), [&](const Evento& e) {
            return e.objeto != nullptr && e.objeto->objectName() == nome && e.tipo == tipo;
        });
    }

private slots:
    void initTestCase() { ui::acessibilidade::observarAnuncios(gravar); }
    void cleanupTestCase() { ui::acessibilidade::observarAnuncios({}); }

    void init()
    {
        setUp(WithZebd::Yes);
        zebd_->server().store().setTiposEnvio("XYZ#Arquivo de Teste|ABC#Outro tipo");
        zebd_->server().store().setTiposDownload("XYZ#Arquivo de Teste");
        test::pointClientAt(sandbox_->base(), zebd_->port(), zebd_->ftpPort());
        eventos_.clear();
        gravados = &eventos_;
    }

    void cleanup()
    {
        gravados = nullptr;
        tearDown();
    }

    // The main window is a frame named as its caption; on every page each
    // button, choice, field, list, grid, gauge and status icon has a name.
    void everyPageNamesEveryControl_data()
    {
        QTest::addColumn<int>("pagina");
        for (int p = 0; p < ui::NumeroPaginas; ++p) {
            QTest::newRow(qPrintable(QString("page %1").arg(p))) << p;
        }
    }

    void everyPageNamesEveryControl()
    {
        QFETCH(int, pagina);
        openActiveWindow();
        enterPage(static_cast<ui::Pagina>(pagina));
        QAccessibleInterface* janela = de(window_.get());
        QCOMPARE(janela->role(), QAccessible::Window);
        QCOMPARE(janela->text(QAccessible::Name), QString("VEK"));
        const QStringList faltam = semNome(window_.get());
        QVERIFY2(faltam.isEmpty(), qPrintable(faltam.join('\n')));
    }

    // What each control without a caption of its own is read as.
    void namesAndDescriptions_data()
    {
        QTest::addColumn<QString>("objeto");
        QTest::addColumn<int>("papel");
        QTest::addColumn<QString>("nome");
        QTest::addColumn<QString>("descricao");
        const int barra = int(QAccessible::ProgressBar);
        QTest::newRow("preparation gauge") << "gagPreparacao" << barra << "Preparação dos dados"
                                           << "";
        QTest::newRow("connection gauge") << "gagConexao" << barra << "Conectando com o servidor"
                                          << "";
        QTest::newRow("transmission gauge") << "gagTransmissao" << barra << "Transmissão de dados"
                                            << "";
        QTest::newRow("list query gauge") << "gagListaArqReceber" << barra << "Progresso da consulta"
                                          << "";
        QTest::newRow("history query gauge") << "gagConsultaHist" << barra << "Progresso da consulta"
                                             << "";
        QTest::newRow("download gauge") << "gagArqCopiar" << barra << "Progresso do download"
                                        << "";
        QTest::newRow("file list grid") << "ListaArqGrid" << int(QAccessible::Table) << "Arquivos disponíveis"
                                        << "";
        QTest::newRow("history grid") << "HistoricoGrid" << int(QAccessible::Table) << "Histórico de transmissões"
                                      << "";
        QTest::newRow("registry field, by its label") << "txtRegZEB" << int(QAccessible::EditableText) << "Registro ZEB"
                                                      << "";
        QTest::newRow("password field, with its hint") << "txtSenha" << int(QAccessible::EditableText) << "Senha"
                                                       << "Não há diferença entre maiúsculas e minúsculas.";
        QTest::newRow("month field, with its hint")
            << "txtMesAnoComp" << int(QAccessible::EditableText) << "Mês/ano de competência"
            << "Formato MM/AAAA";
        QTest::newRow("step icon, before any upload")
            << "imgTransmissao" << int(QAccessible::Graphic) << "Transmissão de dados: aguardando"
            << "";
    }

    void namesAndDescriptions()
    {
        QFETCH(QString, objeto);
        QFETCH(int, papel);
        QFETCH(QString, nome);
        QFETCH(QString, descricao);
        openActiveWindow();
        QAccessibleInterface* iface = de(child<QWidget>(window_.get(), qPrintable(objeto)));
        QCOMPARE(int(iface->role()), papel);
        QCOMPARE(iface->text(QAccessible::Name), nome);
        if (!descricao.isEmpty()) {
            QCOMPARE(iface->text(QAccessible::Description), descricao);
        }
    }

    // The browse button inside the file field is named by its purpose; the
    // key that opens the dialog from the field is in its description.
    void browseButtonIsNamed()
    {
        openActiveWindow();
        QAccessibleInterface* campo = de(child<QWidget>(window_.get(), "txtArqEnviado"));
        QAccessibleInterface* botao = nullptr;
        for (int i = 0; i < campo->childCount(); ++i) {
            if (campo->child(i)->role() == QAccessible::PushButton ||
                campo->child(i)->role() == QAccessible::ButtonMenu) {
                botao = campo->child(i);
            }
        }
        QVERIFY(botao != nullptr);
        QCOMPARE(botao->text(QAccessible::Name), QString("Procurar o arquivo"));
        QCOMPARE(botao->text(QAccessible::Description), QString("Procurar o arquivo (Ctrl+Insert)"));
    }

    // Grids are tables with their column titles as headers; the "Feito"
    // box of each listed file is a checkable state, read as Sim or Não.
    void gridsExposeHeadersAndTheDoneState_data()
    {
        QTest::addColumn<int>("pagina");
        QTest::addColumn<QString>("grade");
        QTest::addColumn<QStringList>("titulos");
        QTest::newRow("file list") << int(ui::pgCopiarArq) << "ListaArqGrid"
                                   << QStringList{"Feito", "Arquivo", "Tamanho", "Disponibilizado em"};
        QTest::newRow("history") << int(ui::pgHistoricoTransmissoes) << "HistoricoGrid"
                                 << QStringList{
                                        "Transmissão", "Arquivo", "Tipo", "Protocolo", "Status", "Avisos", "Erros"};
    }

    void gridsExposeHeadersAndTheDoneState()
    {
        QFETCH(int, pagina);
        QFETCH(QString, grade);
        QFETCH(QStringList, titulos);
        openActiveWindow();
        enterPage(static_cast<ui::Pagina>(pagina));
        QAccessibleInterface* tabela = de(child<QWidget>(window_.get(), qPrintable(grade)));
        QAccessibleTableInterface* t = tabela->tableInterface();
        QVERIFY(t != nullptr);
        QCOMPARE(t->columnCount(), int(titulos.size()));
        QVERIFY(t->rowCount() > 0);
        for (int c = 0; c < titulos.size(); ++c) {
            QCOMPARE(t->columnDescription(c), titulos[c]);
            QAccessibleInterface* celula = t->cellAt(0, c);
            QVERIFY(celula != nullptr);
            QAccessibleTableCellInterface* ci = celula->tableCellInterface();
            QCOMPARE(ci->columnHeaderCells().size(), qsizetype(1));
            QCOMPARE(ci->columnHeaderCells().first()->text(QAccessible::Name), titulos[c]);
            if (titulos[c] == "Feito") {
                QVERIFY(celula->state().checkable);
                QVERIFY(!celula->state().checked);
                QCOMPARE(celula->text(QAccessible::Name), QString("Não"));
            } else {
                QVERIFY(!celula->state().checkable);
            }
        }
        // The first row is selected and focused as the page opens.
        QVERIFY(t->cellAt(0, 1)->state().selected);
        QCOMPARE(static_cast<QObject*>(QApplication::focusWidget()), tabela->object());
    }

    // Each page, as it opens, puts the keyboard focus on its first control.
    void everyPageTakesTheFocusOnEntry_data()
    {
        QTest::addColumn<int>("pagina");
        QTest::addColumn<QString>("foco");
        QTest::newRow("access") << int(ui::pgAcesso) << "txtRegZEB";
        QTest::newRow("send") << int(ui::pgEnviar) << "cbxTpoArqEnviar";
        QTest::newRow("receive filters") << int(ui::pgReceber) << "cbxTpoArqReceber";
        QTest::newRow("file list") << int(ui::pgCopiarArq) << "ListaArqGrid";
        QTest::newRow("period") << int(ui::pgPeriodoConsultaHist) << "txtInicioConsultaHist";
        QTest::newRow("history") << int(ui::pgHistoricoTransmissoes) << "HistoricoGrid";
        QTest::newRow("password") << int(ui::pgAlteraSenha) << "txtNovaSenha";
    }

    void everyPageTakesTheFocusOnEntry()
    {
        QFETCH(int, pagina);
        QFETCH(QString, foco);
        openActiveWindow();
        // From the access page's Próximo, which the other pages hide.
        window_->botao(ui::Botao::Proximo)->setFocus();
        enterPage(static_cast<ui::Pagina>(pagina));
        QWidget* focado = QApplication::focusWidget();
        QVERIFY(focado != nullptr);
        QCOMPARE(focado->objectName(), foco);
        QVERIFY(de(focado)->state().focused);
    }

    // Coming back to the send page with Início and Próximo: the focus is on
    // the type list again.
    void secondEntryToTheSendPageTakesTheFocus()
    {
        openActiveWindow();
        logIn("demo");
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::AltModifier);
        QTRY_COMPARE(window_->paginaAtual(), ui::pgAcesso);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("txtRegZEB"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(window_->paginaAtual(), ui::pgEnviar);
        QVERIFY(QApplication::focusWidget() != nullptr);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("cbxTpoArqEnviar"));
    }

    // An upload's steps are read with their state, a screen reader is told
    // of each change of step and of the result text, and the focus lands
    // where the operator goes on: the receipt after a success, "Tentar
    // Novamente" after a failure.
    void uploadStatesAreSpokenAndTheFocusFollows_data()
    {
        QTest::addColumn<QString>("senha");
        QTest::addColumn<QStringList>("estados");
        QTest::addColumn<QString>("foco");
        QTest::addColumn<bool>("alerta");
        QTest::newRow("sent") << "demo"
                              << QStringList{"Preparação dos dados: concluída",
                                             "Conectando com o servidor: concluída",
                                             "Transmissão de dados: concluída"}
                              << "btnImprimirRecibo" << false;
        QTest::newRow("refused password") << "errada"
                                          << QStringList{"Preparação dos dados: concluída",
                                                         "Conectando com o servidor: falhou",
                                                         "Transmissão de dados: aguardando"}
                                          << "concluirButton" << true;
    }

    void uploadStatesAreSpokenAndTheFocusFollows()
    {
        QFETCH(QString, senha);
        QFETCH(QStringList, estados);
        QFETCH(QString, foco);
        QFETCH(bool, alerta);
        uploadFile(senha);
        sandbox_->ui().clear();

        const char* icones[] = {"imgPreparacao", "imgConexao", "imgTransmissao"};
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE(de(child<QWidget>(window_.get(), icones[i]))->text(QAccessible::Name), estados[i]);
        }
        QTRY_VERIFY(recebeuEvento("imgPreparacao", QAccessible::NameChanged));
        QTRY_VERIFY(recebeuEvento("imgConexao", QAccessible::NameChanged));
        QTRY_VERIFY(recebeuEvento("pnlInfEnvio", QAccessible::NameChanged));
        if (alerta) {
            QTRY_VERIFY(recebeuEvento("pnlInfEnvio", QAccessible::Alert));
        } else {
            QVERIFY(!recebeuEvento("pnlInfEnvio", QAccessible::Alert));
        }
        QAccessibleInterface* info = de(child<QWidget>(window_.get(), "pnlInfEnvio"));
        QCOMPARE(info->text(QAccessible::Name), child<QLabel>(window_.get(), "pnlInfEnvio")->text());

        QWidget* focado = QApplication::focusWidget();
        QVERIFY(focado != nullptr);
        QCOMPARE(focado->objectName(), foco);
        QVERIFY(focado->isVisible() && focado->isEnabled());
        QVERIFY(de(focado)->state().focused);
    }

    // In the receipt's preview every button of its bar is reached with Tab
    // and named; printing and saving also have keys.
    void previewButtonsAreReachable()
    {
        openActiveWindow();
        QStringList alcancados;
        QString teclaImprimir;
        QString teclaSalvar;
        test::onNextModal([](QWidget* w) { return qobject_cast<QPrintPreviewDialog*>(w) != nullptr; },
                          [&](QWidget* w) {
                              auto* barra = w->findChild<QToolBar*>();
                              for (QAction* acao : barra->actions()) {
                                  QWidget* botao = barra->widgetForAction(acao);
                                  if (botao != nullptr && botao->isVisible() && !acao->isSeparator() &&
                                      (botao->focusPolicy() & Qt::TabFocus) != 0) {
                                      alcancados << de(botao)->text(QAccessible::Name);
                                  }
                              }
                              teclaImprimir = child<QAction>(w, "imprimirAction")->shortcut().toString();
                              teclaSalvar = child<QAction>(w, "salvarPdfAction")->shortcut().toString();
                              // Tab goes from the first button of the bar to the next.
                              QWidget* proximo = barra->widgetForAction(barra->actions().first());
                              do {
                                  proximo = proximo->nextInFocusChain();
                              } while (!proximo->isVisible() || (proximo->focusPolicy() & Qt::TabFocus) == 0);
                              alcancados << "tab:" + de(proximo)->text(QAccessible::Name);
                              w->close();
                          });
        ui::TqrpRecibo recibo(window_.get());
        recibo.preencher("2026000123 - VEK-4.0.8", "123456", "lote.xyz", "01/12/2026", "", "127.0.0.1", "ABC");
        QVERIFY2(alcancados.contains("Salvar como PDF"), qPrintable(alcancados.join(", ")));
        QVERIFY2(alcancados.contains("Imprimir"), qPrintable(alcancados.join(", ")));
        QVERIFY2(alcancados.contains("tab:Salvar como PDF"), qPrintable(alcancados.join(", ")));
        QVERIFY2(alcancados.size() >= 8, qPrintable(alcancados.join(", ")));  // zoom, fit, orientation...
        for (const QString& nome : alcancados) {
            QVERIFY2(!nome.isEmpty() && nome != "tab:", qPrintable(alcancados.join(", ")));
        }
        QCOMPARE(teclaImprimir, QString("Ctrl+P"));
        QCOMPARE(teclaSalvar, QString("Ctrl+S"));
    }

    // The help's text is a document whose links are links: Tab goes to
    // each in turn, telling the screen reader, and Enter or the link's own
    // action follows it.
    void helpLinksAreLinksThatEnterFollows()
    {
        ui::TfrmAjuda ajuda(nullptr, {"zeb.example", 80, 21, 20001});
        ajuda.show();
        ajuda.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ajuda));
        QAccessibleInterface* doc = de(ajuda.navegador());
        QCOMPARE(doc->role(), QAccessible::Document);
        QAccessibleTextInterface* texto = doc->textInterface();
        QVERIFY(texto != nullptr);
        QVERIFY(texto->text(0, texto->characterCount()).startsWith("Bem-vindo à ajuda do VEK"));
        QStringList links;
        for (int i = 0; i < doc->childCount(); ++i) {
            QCOMPARE(doc->child(i)->role(), QAccessible::Link);
            QVERIFY(doc->child(i)->rect().isValid());
            links << doc->child(i)->text(QAccessible::Name);
        }
        QCOMPARE(
            links,
            (QStringList{"Enviar arquivos", "Receber arquivos", "Perguntas frequentes", "Recibos anteriores", "sair"}));

        ajuda.navegador()->setFocus(Qt::TabFocusReason);
        eventos_.clear();
        QTest::keyClick(ajuda.navegador(), Qt::Key_Tab);
        QVERIFY(doc->child(0)->state().focused);
        QVERIFY(std::any_of(eventos_.begin(), eventos_.end(), [](const Evento& e) {
            return e.tipo == QAccessible::Focus && e.papel == QAccessible::Link;
        }));
        QTest::keyClick(ajuda.navegador(), Qt::Key_Tab);
        QVERIFY(doc->child(1)->state().focused);
        QTest::keyClick(ajuda.navegador(), Qt::Key_Return);
        QCOMPARE(ajuda.paginaAtual(), QString("recebimento"));

        ajuda.voltar();
        doc = de(ajuda.navegador());
        QAccessibleInterface* perguntas = doc->child(2);
        QVERIFY(perguntas->actionInterface() != nullptr);
        perguntas->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(ajuda.paginaAtual(), QString("perguntas"));
    }

    // The earlier receipts' list is named.
    void previousReceiptsListIsNamed()
    {
        openActiveWindow();
        ui::PreviousReceiptsDialog dialogo(window_.get());
        dialogo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialogo));
        QAccessibleInterface* lista = de(child<QWidget>(&dialogo, "registrosTree"));
        QCOMPARE(lista->text(QAccessible::Name), QString("Recibos anteriores"));
        const QStringList faltam = semNome(&dialogo);
        QVERIFY2(faltam.isEmpty(), qPrintable(faltam.join('\n')));
    }

    // Every control that takes the focus, on every page and in the help and
    // receipts' windows, is ringed with a 3:1 change all around it.
    void focusRingContrastsWithItsSurroundings_data()
    {
        QTest::addColumn<int>("pagina");
        for (int p = 0; p < ui::NumeroPaginas; ++p) {
            QTest::newRow(qPrintable(QString("page %1").arg(p))) << p;
        }
        QTest::newRow("help") << Ajuda;
        QTest::newRow("earlier receipts") << Recibos;
    }

    void focusRingContrastsWithItsSurroundings()
    {
        QFETCH(int, pagina);
        openActiveWindow();
        if (pagina >= 0) {
            enterPage(static_cast<ui::Pagina>(pagina));
            const QStringList falhas = falhasDoAnel(window_.get());
            QVERIFY2(falhas.isEmpty(), qPrintable(falhas.join('\n')));
            return;
        }
        // The help's buttons lie on its dark header; the receipts' list in a dialog of its own.
        std::unique_ptr<QDialog> dialogo;
        if (pagina == Ajuda) {
            dialogo =
                std::make_unique<ui::TfrmAjuda>(window_.get(), ui::EnderecoServidor{"zeb.example", 80, 21, 20001});
        } else {
            dialogo = std::make_unique<ui::PreviousReceiptsDialog>(window_.get());
        }
        dialogo->show();
        dialogo->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialogo.get()));
        const QStringList falhas = falhasDoAnel(dialogo.get());
        QVERIFY2(falhas.isEmpty(), qPrintable(falhas.join('\n')));
    }
};

VEK_UI_TEST(AccessibilityTest);

#include "AccessibilityTest.moc"
