-- Settings, already at the version the script brings them to: the run leaves them alone.
CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
INSERT INTO TVERSION VALUES ('TMAIN', '8.1.0.1');

CREATE TABLE TSETTING(F_KEY TEXT PRIMARY KEY, F_VALUE TEXT);
INSERT INTO TSETTING VALUES ('language', 'zh-CN'), ('theme', '浅色'), ('autostart', '1'),
    ('download_folder', 'D:\下载\Vennic');
