#pragma once

#include <QObject>

class AdoQuery;

// Links a dataset to the controls that show it.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(QObject* parent = nullptr) : QObject(parent) {}

    AdoQuery* dataSet() const { return m_dataSet; }
    void setDataSet(AdoQuery* dataSet)
    {
        if (m_dataSet == dataSet)
            return;
        m_dataSet = dataSet;
        emit dataSetChanged();
    }

signals:
    void dataSetChanged();

private:
    AdoQuery* m_dataSet = nullptr;
};
