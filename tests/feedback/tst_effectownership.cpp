#include "feedback/effectmanager.h"
#include "feedback/effectownership.h"
#include "support/testenv.h"

#include <QSettings>
#include <QtTest>

class TestEffectOwnership : public QObject
{
    Q_OBJECT

private slots:
    void init() { testenv::clearSettings(); }

    void reloadsSwitchOnOnlyWhatIsNewlyOwned()
    {
        {
            EffectManager effects;
            EffectOwnership ownership(&effects);
            QVERIFY(!ownership.isKnown());
            QVERIFY(ownership.owns(9)); // nothing known: nothing is taken away
            ownership.setOwned("id:7", {5, 39, 5});
            QVERIFY(ownership.isKnown());
            QVERIFY(ownership.owns(5));
            QVERIFY(!ownership.owns(9));
            QVERIFY(effects.isEffectEnabled(5));
            QVERIFY(effects.isEffectEnabled(39));

            // The player switches 5 off; the next reloads leave it off.
            effects.setEffectEnabled(5, false);
            const int writes = effects.settingsWrites();
            ownership.setOwned("id:7", {5, 39});
            QVERIFY(!effects.isEffectEnabled(5));
            QCOMPARE(effects.settingsWrites(), writes);

            // A new purchase is switched on, the old choice still kept.
            ownership.setOwned("id:7", {5, 39, 12});
            QVERIFY(effects.isEffectEnabled(12));
            QVERIFY(!effects.isEffectEnabled(5));
        }
        // Across a restart.
        EffectManager effects;
        EffectOwnership ownership(&effects);
        ownership.setOwned("id:7", {5, 39, 12});
        QVERIFY(!effects.isEffectEnabled(5));
        QCOMPARE(EffectOwnership::seenOwned("id:7"), (QList<int>{5, 12, 39}));
        // The switches keep their meaning: one bool per id under "effects_enabled".
        QSettings settings;
        QCOMPARE(settings.value("effects_enabled/5").toBool(), false);
        QCOMPARE(settings.value("effects_enabled/12").toBool(), true);
    }

    void eachAccountHasItsOwnRecord()
    {
        EffectManager effects;
        EffectOwnership ownership(&effects);
        ownership.setOwned("name:a/b", {3});
        effects.setEffectEnabled(3, false);
        // Another account that owns 3 has not chosen yet: it gets it switched on.
        ownership.setOwned("name:a", {3});
        QVERIFY(effects.isEffectEnabled(3));
        QCOMPARE(EffectOwnership::seenOwned("name:a/b"), QList<int>{3});
        QCOMPARE(EffectOwnership::seenOwned("name:a"), QList<int>{3});
        QVERIFY(EffectOwnership::seenOwned("name:c").isEmpty());
        // A name with a slash is one key, not a group path.
        QSettings settings;
        settings.beginGroup("effects_owned");
        QCOMPARE(settings.childGroups().size(), 2);
    }
};

TAPTEMPEST_TEST_MAIN(TestEffectOwnership)
#include "tst_effectownership.moc"
