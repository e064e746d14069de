-- Schema of the shipped database tesmo.mdb and of the portfolio template tempportfolio.gbf.
--
-- The file is read in sections:
--   "-- @section tables"     statements for tesmo.mdb, in SQLite's own SQL
--   "-- @section watch"      statements for tesmo.mdb that an older file gains when opened
--   "-- @section portfolio"  statements for both tesmo.mdb and tempportfolio.gbf
--   "-- @upgrade TABLE"      statements that create TABLE, for tesmo.mdb and for a file of an
--                            earlier layout that lacks it (run when it is opened)
--   "-- @query NAME"         a stored query, in the program's SQL dialect, up to the next
--                            marker; lines starting with "--" are not part of its text
--
-- Types: SQLite keeps what it is given; NUMERIC columns keep whole numbers whole, so a price
-- of 1200 reads back as 1200, not 1200.0. CODE columns have TEXT affinity, so a bare 1301
-- from a day file is stored as the text '1301'.

-- @section tables

-- One row per stock code ever seen.
CREATE TABLE master (
    CODE     TEXT NOT NULL,
    NAME     TEXT,
    MARKET   TEXT,
    SWCO     INTEGER DEFAULT 0,
    SWIDX    INTEGER NOT NULL DEFAULT 0,
    [UPDATE] TEXT
);
CREATE UNIQUE INDEX master_code ON master (CODE);

-- Daily rows of the most recent trading dates, kept in the order of date and code: a day's
-- rows go in at the end and the oldest date's leave at the front, and the window of dates that
-- a month row sums up is read as one stretch of the table.
CREATE TABLE T_NEARLY (
    IDATE  INTEGER NOT NULL,
    CODE   TEXT NOT NULL,
    PRC    NUMERIC,
    DVAL   NUMERIC,
    TALK   NUMERIC,
    ANPRC  REAL,
    ANDVAL REAL,
    ANTALK REAL,
    A1PRC  REAL,
    A1DVAL REAL,
    A1TALK REAL,
    AXPRC  REAL,
    AXDVAL REAL,
    AXTALK REAL,
    VAL2   REAL,
    PRIMARY KEY (IDATE, CODE)
) WITHOUT ROWID;
-- The chart counts the dates: this index is a small fraction of the rows it would read.
CREATE INDEX t_nearly_date ON T_NEARLY (IDATE);

-- Statistics over a trailing window of T_NEARLY, one row per month and code.
CREATE TABLE T_MONTHLY (
    YYYYMM INTEGER NOT NULL,
    CODE   TEXT NOT NULL,
    AVPRC  REAL,
    AVDVAL REAL,
    AVTALK REAL,
    MXPRC  NUMERIC,
    MXDVAL NUMERIC,
    MXTALK NUMERIC,
    MIPRC  NUMERIC,
    MIDVAL NUMERIC,
    MITALK NUMERIC
);
CREATE UNIQUE INDEX t_monthly_month_code ON T_MONTHLY (YYYYMM, CODE);

CREATE TABLE T_config (
    pID  TEXT NOT NULL,
    pSTR TEXT,
    pINT INTEGER
);
CREATE UNIQUE INDEX t_config_id ON T_config (pID);
-- Date markers: the import only updates them.
INSERT INTO T_config (pID, pINT) VALUES ('MAXDT', 0);
INSERT INTO T_config (pID, pINT) VALUES ('MAXDT1', 0);
INSERT INTO T_config (pID, pINT) VALUES ('MAXMM', 0);
INSERT INTO T_config (pID, pINT) VALUES ('MAXMM1', 0);

-- One stock's rows (the chart, the portfolio's newest price) are found through the date-first
-- keys above, by a skip-scan: one seek per date (month) for the code. There is no
-- code-first index on purpose: each import adds one entry per stock to every stock's part of
-- such an index, and with a long retention that touched a page per stock, which made the
-- daily import slower the more dates it kept. The planner takes the skip-scan only when it
-- knows that a date has thousands of rows, which these fixed figures tell it (rows, rows per
-- date, rows per date and code); ANALYZE is never run, so they stay.
ANALYZE sqlite_schema;
INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES ('T_NEARLY', 'T_NEARLY', '1000000 4000 1');
INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES ('T_NEARLY', 't_nearly_date', '1000000 4000');
INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES ('T_MONTHLY', 't_monthly_month_code', '480000 4000 1');
INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES ('T_OHLC', 'T_OHLC', '1000000 4000 1');

-- Staging table: one decoded day file.
CREATE TABLE wonton_dat01 (
    [DATE] INTEGER,
    CODE   TEXT,
    NAME   TEXT,
    PRC    NUMERIC,
    DVAL   NUMERIC,
    TALK   NUMERIC,
    MARKET TEXT
);
CREATE INDEX wonton_dat01_code ON wonton_dat01 (CODE);

-- @section watch

-- Watch rules: the conditions a data update checks on the newest day. A file of an earlier
-- layout gets these two tables when it is opened (storage/watch_tables.cpp runs this section),
-- so they must stay creatable over an existing file.
--   KIND       column (a column of the ranking), price (one code's close), gain, loss
--              (portfolio entries' close against APRC)
--   COL        the column's caption as the ranking shows it (前比終値), column rules only
--   OP         >= or <=
--   THRESHOLD  in the column's own unit: ratios and percentages as fractions (0.05 for 5 %),
--              a multiple of the monthly average when AVGX is 1
--   PSW        a portfolio group, or null for every stock (every group)
CREATE TABLE IF NOT EXISTS T_WATCH (
    WID       INTEGER PRIMARY KEY,
    WNAME     TEXT NOT NULL,
    ENABLED   INTEGER NOT NULL DEFAULT 1,
    KIND      TEXT NOT NULL,
    COL       TEXT,
    OP        TEXT NOT NULL DEFAULT '>=',
    THRESHOLD REAL NOT NULL,
    AVGX      INTEGER NOT NULL DEFAULT 0,
    CODE      TEXT,
    PSW       INTEGER
);
CREATE UNIQUE INDEX IF NOT EXISTS t_watch_name ON T_WATCH (WNAME);

-- The stocks each rule selected, per trading date, with the value that matched; kept for the
-- dates that T_NEARLY keeps.
CREATE TABLE IF NOT EXISTS T_WATCH_HIT (
    IDATE INTEGER NOT NULL,
    WID   INTEGER NOT NULL,
    CODE  TEXT NOT NULL,
    HVAL  REAL,
    PRIMARY KEY (IDATE, WID, CODE)
) WITHOUT ROWID;

-- @upgrade T_OHLC
-- Open, high and low of each date and code that J-Quants delivers, beside the close in
-- T_NEARLY, whose layout stays as stored files and the indicator steps know it; ADJF is the
-- day's split factor (AdjFactor) as the history before the day was adjusted by it. The
-- data site's days have no row here. Pruned with T_NEARLY's dates. A file of the earlier
-- layout gets this table when it is first opened.
CREATE TABLE T_OHLC (
    IDATE INTEGER NOT NULL,
    CODE  TEXT NOT NULL,
    OPRC  NUMERIC,
    HPRC  NUMERIC,
    LPRC  NUMERIC,
    ADJF  REAL,
    PRIMARY KEY (IDATE, CODE)
) WITHOUT ROWID;

-- @section portfolio

-- The portfolio; an entry is identified by its registration date and code.
CREATE TABLE T_PORT (
    PDATE INTEGER NOT NULL,
    CODE  TEXT NOT NULL,
    PSW   INTEGER NOT NULL DEFAULT 0,
    APRC  NUMERIC,
    AVAL  NUMERIC
);
CREATE UNIQUE INDEX t_port_date_code ON T_PORT (PDATE, CODE);

-- @query V_RANK
-- The ranking: every stock on the newest date (marker MAXDT).
--   VAL1 (推薦度)      the weighted score VAL2 of the import's indicator pass
--   MM1AVDVAL (平均出来高) the average volume of the previous month's row (marker MAXMM1); the
--                     current month's row is still being rewritten day by day
--   KEY1, KEY2        sort keys of 推薦度 and 最大Web話: a missing value sorts below every
--                     real one, so the descending ranking lists the stocks without it last
SELECT N.CODE AS CODE, M.NAME AS NAME, M.MARKET AS MARKET, N.PRC AS PRC,
       MM.AVDVAL AS MM1AVDVAL, N.TALK AS TALK, N.ANPRC AS ANPRC, N.AXTALK AS AXTALK,
       N.VAL2 AS VAL1, N.A1PRC AS A1PRC, N.A1TALK AS A1TALK,
       IIf(N.VAL2 Is Null, -1E+300, N.VAL2) AS KEY1,
       IIf(N.AXTALK Is Null, -1E+300, N.AXTALK) AS KEY2
FROM (T_NEARLY AS N INNER JOIN master AS M ON N.CODE = M.CODE)
     LEFT JOIN T_MONTHLY AS MM
       ON (MM.CODE = N.CODE AND MM.YYYYMM = (SELECT pINT FROM T_config WHERE pID = 'MAXMM1'))
WHERE N.IDATE = (SELECT pINT FROM T_config WHERE pID = 'MAXDT')

-- @query V_PORT
-- The portfolio with the newest figures of each stock. Entries whose stock has no row on the
-- newest date are still listed, with empty figures.
--   PDATE2, PPRC2 (参考日, 価格2) the newest date on which the stock has a price, and that price
--   KEY1, KEY2    as in V_RANK
SELECT P.PDATE AS PDATE, P.CODE AS CODE, M.NAME AS NAME, P.PSW AS PSW, P.APRC AS APRC,
       P.AVAL AS AVAL,
       (SELECT Max(R.IDATE) FROM T_NEARLY AS R WHERE R.CODE = P.CODE AND R.PRC Is Not Null) AS PDATE2,
       (SELECT R.PRC FROM T_NEARLY AS R WHERE R.CODE = P.CODE AND R.PRC Is Not Null
         ORDER BY R.IDATE DESC LIMIT 1) AS PPRC2,
       M.MARKET AS MARKET, N.PRC AS PRC, N.DVAL AS DVAL, N.TALK AS TALK, N.ANPRC AS ANPRC,
       N.AXTALK AS AXTALK, N.VAL2 AS VAL1, N.A1PRC AS A1PRC, N.A1TALK AS A1TALK,
       IIf(N.VAL2 Is Null, -1E+300, N.VAL2) AS KEY1,
       IIf(N.AXTALK Is Null, -1E+300, N.AXTALK) AS KEY2
FROM (T_PORT AS P LEFT JOIN master AS M ON P.CODE = M.CODE)
     LEFT JOIN T_NEARLY AS N
       ON (N.CODE = P.CODE AND N.IDATE = (SELECT pINT FROM T_config WHERE pID = 'MAXDT'))

-- @query M_PORT
-- The portfolio list of the maintenance window; PDATE2 and PPRC2 as in V_PORT.
SELECT P.PDATE AS PDATE, P.CODE AS CODE, M.NAME AS NAME, P.PSW AS PSW, P.APRC AS APRC,
       P.AVAL AS AVAL,
       (SELECT Max(R.IDATE) FROM T_NEARLY AS R WHERE R.CODE = P.CODE AND R.PRC Is Not Null) AS PDATE2,
       (SELECT R.PRC FROM T_NEARLY AS R WHERE R.CODE = P.CODE AND R.PRC Is Not Null
         ORDER BY R.IDATE DESC LIMIT 1) AS PPRC2
FROM T_PORT AS P LEFT JOIN master AS M ON P.CODE = M.CODE
