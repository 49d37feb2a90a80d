#pragma once

// A window stand-in that keeps what the document asked it to show.

#include <QMap>
#include <QStringList>

#include <deque>
#include <optional>

#include "document/IDocumentView.h"

class RecordingView : public IDocumentView {
public:
    struct Node {
        bool created = false;
        int picture = 0;
        QPointF pos;
        bool visible = false;
        QString caption;
        QPointF captionPos;
        bool captionVisible = false;
    };
    struct Link {
        bool created = false;
        QLineF line;
        bool lineVisible = false;
        QPointF dot;
        bool dotVisible = false;
        QLineF up, down;
        int endDraws = 0;
        QString caption;
        bool captionVisible = false;
        QPointF captionPos;
    };

    QSizeF pictureSize{600, 400};
    QSizeF dotSize{100, 80};
    QSizeF linkLabelSize{300, 200};
    double charWidth = 45;  // caption label width per character
    QMap<int, Node> nodes;
    QMap<int, Link> links;
    int frameHides = 0;
    std::deque<std::optional<QString>> answers;
    QStringList prompts;

    void createNode(int n) override { nodes[n].created = true; }
    void setNodePicture(int n, shpType kind) override { nodes[n].picture = kind; }
    QSizeF nodeSize(int) const override { return pictureSize; }
    void moveNode(int n, double left, double top) override { nodes[n].pos = QPointF(left, top); }
    void setNodeVisible(int n, bool v) override { nodes[n].visible = v; }
    void setNodeCaption(int n, const QString& c) override { nodes[n].caption = c; }
    double nodeCaptionWidth(int n) const override { return charWidth * nodes.value(n).caption.size(); }
    void moveNodeCaption(int n, double left, double top) override { nodes[n].captionPos = QPointF(left, top); }
    void setNodeCaptionVisible(int n, bool v) override { nodes[n].captionVisible = v; }
    void hideSelectionFrames() override { ++frameHides; }

    void createLink(int n) override { links[n].created = true; }
    void setLinkLine(int n, const QLineF& l) override { links[n].line = l; }
    void setLinkLineVisible(int n, bool v) override { links[n].lineVisible = v; }
    QSizeF linkDotSize(int) const override { return dotSize; }
    void setLinkEnd(int n, const QPointF& dot, const QLineF& up, const QLineF& down) override {
        Link& l = links[n];
        l.dot = dot;
        l.dotVisible = true;
        l.up = up;
        l.down = down;
        ++l.endDraws;
    }
    void hideLinkEnd(int n) override { links[n].dotVisible = false; }
    void setLinkCaption(int n, const QString& c) override { links[n].caption = c; }
    void setLinkCaptionVisible(int n, bool v) override { links[n].captionVisible = v; }
    QSizeF linkCaptionSize(int) const override { return linkLabelSize; }
    void moveLinkCaption(int n, const QPointF& p) override { links[n].captionPos = p; }
    void raiseLinkCaption(int) override {}

    std::optional<QString> askText(const QString& prompt, const QString& title) override {
        prompts << prompt + QLatin1Char('|') + title;
        if (answers.empty())
            return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
};
