#pragma once

#include <QString>

class GameDatabase;

// Copies a data folder's SQLite store into an empty PostgreSQL one: accounts with their
// password hashes, owned effects, sessions, sync sessions and stored replies, in one
// transaction, so that an interrupted copy leaves the target empty. Login throttle records are
// left behind; they only slow down guessing for a minute.
class StoreMigration
{
public:
    struct Counts
    {
        qint64 accounts = 0;
        qint64 sessions = 0;
        qint64 effects = 0;
        qint64 syncs = 0;
        qint64 replies = 0;
    };

    // Refuses a target that holds any row, or any table that is not the game's.
    static bool copy(GameDatabase &from, GameDatabase &to, Counts *counts, QString *error);
};
