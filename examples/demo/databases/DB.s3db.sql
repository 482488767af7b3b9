-- The client's main database as version 8.0.0.3 of the client left it: local accounts,
-- contact groups and 240 contacts.
CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
INSERT INTO TVERSION VALUES ('TMAIN', '8.0.0.3');

CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_ACCOUNT TEXT, F_NAME TEXT, F_CREATED TEXT);
INSERT INTO TUSER VALUES
    (1, 'wang.wei', '王伟', '2023-03-14 09:12:00'),
    (2, 'li.na', '李娜', '2024-07-01 18:40:00'),
    (3, 'obrien', 'O''Brien', '2025-01-20 11:05:00');

CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);
INSERT INTO TGROUP VALUES (1, '同事'), (2, '家人'), (3, '朋友'), (4, '同学'), (5, '客户'),
    (6, '其他');

CREATE TABLE TCONTACT(F_ID INTEGER PRIMARY KEY, F_USERID INTEGER, F_NAME TEXT,
    F_GROUPID INTEGER, F_PHONE TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 240)
INSERT INTO TCONTACT
SELECT i, 1 + i % 3,
       substr('王李张刘陈杨黄赵吴周徐孙马朱胡郭', 1 + i % 16, 1) ||
       substr('伟芳娜敏静丽强磊洋艳勇军杰娟涛明超秀霞平', 1 + (i / 16) % 20, 1) ||
       CASE WHEN i % 3 = 0 THEN substr('华英玉兰红梅', 1 + i % 6, 1) ELSE '' END,
       1 + i % 6, printf('138%08d', i * 7919 % 100000000)
FROM n;
